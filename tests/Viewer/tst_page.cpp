// The session page in the real web engine: loads, live updates, scrolling, highlighting, the
// safety of untrusted transcripts, tags, links and printing.

#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/Foundation/HVXModifierKeys.h"
#include "LogCapture.h"
#include "Tavlo/DataObjects/TVLDesktop.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLProjectMetadata.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLTag.h"
#include "Tavlo/Viewer/TVLPageController.h"
#include "Tavlo/Viewer/TVLPageProfile.h"
#include "Tavlo/Viewer/TVLPageRequestBlocker.h"
#include "Tavlo/Viewer/TVLPageSections.h"
#include "Tavlo/Viewer/TVLPageTemplate.h"
#include "Tavlo/Viewer/TVLWebPage.h"
#include "HostilePage.h"
#include "TranscriptBuilder.h"
#include "WebEngineEnvironment.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace TB = TranscriptBuilder;

namespace {

// Records what the page hands to the desktop instead of opening it.
class OpenRecorder final : public TVLDesktop
{
public:
    QList<QUrl> opened;
    void openUrl(const QUrl &url) override { opened << url; }
};

QString uuidFor(int exchange, int line) { return QStringLiteral("E%1-L%2").arg(exchange).arg(line); }

QString longText(int exchange, int paragraphs)
{
    QStringList lines;
    for (int p = 0; p < paragraphs; ++p)
        lines << QStringLiteral("Answer %1, paragraph %2: the quick brown fox jumps over the lazy dog.").arg(exchange).arg(p);
    return lines.join(QStringLiteral("\n\n"));
}

QList<QJsonObject> exchangeLines(int exchange, int paragraphs = 3)
{
    return {TB::prompt(uuidFor(exchange, 0), QStringLiteral("Question %1").arg(exchange)),
            TB::assistant(uuidFor(exchange, 1), longText(exchange, paragraphs))};
}

} // namespace

class TestPage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::shared_ptr<OpenRecorder> m_desktop;
    int m_sessionNumber = 0;

    QString projectDir() const { return m_dir.filePath(QStringLiteral("projects/-home-me-proj")); }

    std::shared_ptr<TVLSession> writeSession(const QList<QJsonObject> &lines)
    {
        const QString path = QStringLiteral("%1/session-%2.jsonl").arg(projectDir()).arg(++m_sessionNumber);
        TB::write(path, lines);
        auto session = TVLSession::initWithPath(path);
        if (!session)
            qFatal("no session for %s", qPrintable(path));
        return session;
    }

    static QList<QJsonObject> exchanges(int from, int to, int paragraphs = 3)
    {
        QList<QJsonObject> lines;
        for (int e = from; e <= to; ++e)
            lines += exchangeLines(e, paragraphs);
        return lines;
    }

    static QVariant evaluate(TVLPageController &page, const QString &script)
    {
        return evaluateIn(page.webPage(), script);
    }

    static QVariant evaluateIn(QWebEnginePage *page, const QString &script)
    {
        QVariant result;
        bool answered = false;
        QEventLoop loop;
        page->runJavaScript(script, [&](const QVariant &value) {
            result = value;
            answered = true;
            loop.quit();
        });
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        if (!answered)
            loop.exec();
        if (!answered)
            QTest::qFail(qPrintable(QStringLiteral("The page did not answer: ") + script.left(200)), __FILE__, __LINE__);
        return result;
    }

    // Returns once the page has drawn a few frames: whatever the page does in its next frames
    // (scrolls begun with requestAnimationFrame) has begun by then.
    static void waitForFrames(TVLPageController &page)
    {
        evaluate(page, QStringLiteral("window.framesDrawn = 0; (function tick() { if (++window.framesDrawn < 4) requestAnimationFrame(tick); })()"));
        QTRY_VERIFY(evaluate(page, QStringLiteral("window.framesDrawn")).toInt() >= 4);
    }

    static std::unique_ptr<TVLPageController> makePage()
    {
        auto page = std::make_unique<TVLPageController>();
        page->resize(900, 600);
        page->show();
        return page;
    }

    static bool waitForLoad(TVLPageController &page, const std::function<void()> &start)
    {
        QSignalSpy loaded(&page, &TVLPageController::pageLoaded);
        start();
        return loaded.wait(20000);
    }

    static bool showSession(TVLPageController &page, const std::shared_ptr<TVLObject> &object)
    {
        return waitForLoad(page, [&] { page.displayObject(object); });
    }

    static double number(TVLPageController &page, const QString &script) { return evaluate(page, script).toDouble(); }
    static double scrollY(TVLPageController &page) { return number(page, QStringLiteral("window.scrollY")); }
    static double maxScroll(TVLPageController &page)
    {
        return number(page, QStringLiteral("document.documentElement.scrollHeight - window.innerHeight"));
    }
    static QStringList sectionIds(TVLPageController &page)
    {
        return evaluate(page, QStringLiteral("Array.from(document.querySelectorAll('.exchange-wrapper'))"
                                             ".map(w => w.getAttribute('data-section-id'))"))
            .toStringList();
    }

    // The centre of an element's first line of text, brought into view, in the view's coordinates.
    static QPoint textCentre(TVLPageController &page, const QString &element)
    {
        const QVariantList xy = evaluate(page, QStringLiteral("(function(){var e=%1; e.scrollIntoView({block:'center'});"
                                                              "var r=document.createRange(); r.selectNodeContents(e);"
                                                              "var b=r.getClientRects()[0]; return [b.left+b.width/2, b.top+b.height/2];})()")
                                                   .arg(element)).toList();
        return QPoint(qRound(xy.value(0).toDouble()), qRound(xy.value(1).toDouble()));
    }

    // The reader's click: the pointer comes over the text, then presses.
    static void clickText(TVLPageController &page, const QString &element)
    {
        const QPoint point = textCentre(page, element);
        QWidget *surface = page.webView()->focusProxy();
        QTest::mouseMove(surface, point);
        QTest::mouseClick(surface, Qt::LeftButton, {}, point);
    }

    static void growAndNotify(const std::shared_ptr<TVLSession> &session, const QList<QJsonObject> &lines)
    {
        QStringList texts;
        for (const QJsonObject &object : lines)
            texts << TB::line(object);
        TB::write(session->path(), texts);
        session->pathDidUpdate(session->path());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        HVXDefaults::useStoreAtPath(m_dir.filePath(QStringLiteral("settings.ini")));
        m_desktop = std::make_shared<OpenRecorder>();
        TVLDesktop::install(m_desktop);
    }

    void templateHasOneMarkerAndItsResources()
    {
        const TVLPageTemplate &shared = TVLPageTemplate::shared();
        QVERIFY(shared.prefix());
        QVERIFY(shared.suffix());
        QVERIFY(shared.prefix()->contains(QStringLiteral("Content-Security-Policy")));
        for (const char *file : {"highlight.min.js", "highlight-light.css", "highlight-dark.css", "tavlo-page.js", "tavlo-page.css"}) {
            const QString name = QString::fromLatin1(file);
            QVERIFY2(TVLPageTemplate::resource(name) && !TVLPageTemplate::resource(name)->isEmpty(), file);
        }
        QVERIFY(!TVLPageTemplate::resource(QStringLiteral("../htmlWrapper.html")));

        LogCapture capture;
        QVERIFY(!TVLPageTemplate(QStringLiteral("a ~~INSERT~~ b ~~INSERT~~ c")).prefix());
        QVERIFY(!TVLPageTemplate(QStringLiteral("no marker")).suffix());
        QCOMPARE(capture.count(QStringLiteral("WARNING: Page template needs exactly one")), 2);
        QCOMPARE(TVLPageTemplate(QStringLiteral("<a>~~INSERT~~</a>")).documentWithBody(QStringLiteral("x")),
                 QStringLiteral("<a>x</a>"));
    }

    void jsStringLiteralRoundTripsThroughTheEngine()
    {
        const QString text = QStringLiteral("quote \" apostrophe ' backslash \\ \\n lf \n cr \r tab \t ")
                             + QString::fromUtf8("ünï 😀 \u2028 sep </script> end");
        QCOMPARE(TVLPageController::jsStringLiteral(QStringLiteral("a\"b\\c\nd\re\tf")),
                 QStringLiteral("\"a\\\"b\\\\c\\nd\\re\\tf\""));
        auto page = makePage();
        QVERIFY(waitForLoad(*page, [&] { page->fullLoad(QStringLiteral("x")); }));
        QCOMPARE(evaluate(*page, TVLPageController::jsStringLiteral(text)).toString(), text);
    }

    void fullLoadShowsEveryExchangeInItsSection()
    {
        QList<QJsonObject> lines{TB::assistant(QStringLiteral("P-1"), QStringLiteral("Before any prompt"))};
        lines += exchanges(1, 4);
        auto session = writeSession(lines);
        QCOMPARE(session->exchanges().size(), size_t(5));
        auto page = makePage();
        QVERIFY(showSession(*page, session));
        QCOMPARE(page->lastDisplayedExchangeCount(), 5u);

        const QStringList expected = {QStringLiteral("P-1"), uuidFor(1, 0), uuidFor(2, 0), uuidFor(3, 0), uuidFor(4, 0)};
        QCOMPARE(sectionIds(*page), expected);
        // Each section holds its prompt and answer.
        QCOMPARE(evaluate(*page, QStringLiteral("document.querySelectorAll('.exchange-wrapper')[3].querySelectorAll('.user, .assistant').length")).toInt(), 2);
        QVERIFY(evaluate(*page, QStringLiteral("document.body.textContent")).toString().contains(QStringLiteral("Answer 4, paragraph 2")));
        // Marking again changes nothing.
        QCOMPARE(evaluate(*page, QStringLiteral("initSectionMarkers()")).toInt(), 0);
        QCOMPARE(sectionIds(*page), expected);
        QCOMPARE(evaluate(*page, QStringLiteral("document.querySelectorAll('.exchange-wrapper .exchange-wrapper').length")).toInt(), 0);
    }

    // The pull requests a session opened are listed at the top of its page, the new ones too.
    void pullRequestsAreListedAtTheTop()
    {
        QList<QJsonObject> lines;
        QFile fixture(QStringLiteral(TAVLO_TEST_FIXTURES "/log-root/projects/-Users-me-app/today.jsonl"));
        QVERIFY(fixture.open(QIODevice::ReadOnly));
        for (const QByteArray &line : fixture.readAll().split('\n'))
            if (!line.isEmpty())
                lines << QJsonDocument::fromJson(line).object();
        auto session = writeSession(lines);
        auto page = makePage();
        QVERIFY(showSession(*page, session));
        const QString listed = QStringLiteral("Array.from(document.querySelectorAll('#pull-requests a')).map(a => a.href)");
        QTRY_COMPARE(evaluate(*page, listed).toStringList(),
                     QStringList({"https://github.com/me/app/pull/58", "https://github.com/me/app/pull/59"}));
        QVERIFY(evaluate(*page, QStringLiteral("document.body.firstElementChild.id")).toString() == QStringLiteral("pull-requests"));
        lines << QJsonObject{{"type", "pr-link"}, {"prNumber", 60}, {"prUrl", "https://github.com/me/app/pull/60"},
                             {"prRepository", "me/app"}};
        growAndNotify(session, lines);
        QTRY_COMPARE(evaluate(*page, listed).toStringList().size(), 3);
    }

    // A long page opens with its newest exchanges; the rest arrive in parts, in their places,
    // and an exchange asked for before its part came is there at once.
    void longPageArrivesInParts()
    {
        const int count = int(TVLPageParts::kExchangesOfWholePage) + 60;
        auto session = writeSession(exchanges(1, count, 1));
        auto page = makePage();
        QSignalSpy complete(page.get(), &TVLPageController::allPartsShown);
        QVERIFY(showSession(*page, session));
        QVERIFY(sectionIds(*page).size() < count);
        QVERIFY(sectionIds(*page).contains(uuidFor(count, 0)));

        // Scrolled to at once: its part goes to the page before the scroll.
        page->scrollToExchangeId(uuidFor(2, 0));
        QVERIFY(evaluate(*page, QStringLiteral("!!document.getElementById('%1')").arg(uuidFor(2, 0))).toBool());
        // The glide ends with it at the top of the view, however many parts arrive above it
        // meanwhile, and it stays there while the rest arrive.
        const QString topOfTarget = QStringLiteral("Math.round(document.getElementById('%1').getBoundingClientRect().top)").arg(uuidFor(2, 0));
        // Within a pixel: the view's offset may fall between device pixels.
        // Generous bounds: each part's blocks are cleaned in the page, which takes a while on a
        // loaded machine.
        QTRY_VERIFY_WITH_TIMEOUT(std::abs(evaluate(*page, topOfTarget).toInt()) < 2, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(complete.count(), 1, 60000);
        QTRY_VERIFY(std::abs(evaluate(*page, topOfTarget).toInt()) < 2);
        QStringList expected;
        for (const auto &exchange : session->exchanges())
            expected << exchange->uuid();
        QCOMPARE(sectionIds(*page), expected);
        // Every section asked for its badges as it arrived.
        QTRY_COMPARE(evaluate(*page, QStringLiteral("document.querySelectorAll('.exchange-wrapper > .tag-badges').length")).toInt(), count);
    }

    void growingSessionIsUpdatedInPlace()
    {
        auto session = writeSession(exchanges(1, 3));
        auto page = makePage();
        QVERIFY(showSession(*page, session));
        QVERIFY(evaluate(*page, QStringLiteral("window.survivor = 'still here'; true")).toBool());

        // Exchange 3 gets another answer; exchanges 4 and 5 arrive.
        QList<QJsonObject> grown = exchanges(1, 3);
        grown << TB::assistant(uuidFor(3, 2), QStringLiteral("A late addition to three"));
        grown += exchanges(4, 5);
        QSignalSpy loads(page.get(), &TVLPageController::pageLoaded);
        QSignalSpy updates(page.get(), &TVLPageController::incrementalUpdateSent);
        growAndNotify(session, grown);
        QVERIFY(updates.wait(10000));

        QTRY_COMPARE(sectionIds(*page).size(), 5);
        QCOMPARE(sectionIds(*page), (QStringList{uuidFor(1, 0), uuidFor(2, 0), uuidFor(3, 0), uuidFor(4, 0), uuidFor(5, 0)}));
        QCOMPARE(evaluate(*page, QStringLiteral("window.survivor")).toString(), QStringLiteral("still here"));
        QVERIFY(evaluate(*page, QStringLiteral("document.querySelectorAll('.exchange-wrapper')[2].textContent")).toString()
                    .contains(QStringLiteral("A late addition to three")));
        QCOMPARE(evaluate(*page, QStringLiteral("document.querySelectorAll('[id=\"E3-L1\"]').length")).toInt(), 1);
        QCOMPARE(page->lastDisplayedExchangeCount(), 5u);
        QCOMPARE(page->lastDisplayedMarkdown(), session->markdown());
        // Badges were sent for the replaced and the new sections.
        QTRY_COMPARE(evaluate(*page, QStringLiteral("document.querySelectorAll('.exchange-wrapper > .tag-badges').length")).toInt(), 5);
        QCOMPARE(loads.count(), 0);

        // The last exchange grows again, the count stays: only its section is replaced.
        grown << TB::assistant(uuidFor(5, 2), QStringLiteral("Five grows"));
        QVERIFY(evaluate(*page, QStringLiteral("window.firstSection = document.querySelector('.exchange-wrapper'); true")).toBool());
        growAndNotify(session, grown);
        QVERIFY(updates.wait(10000));
        QTRY_VERIFY(evaluate(*page, QStringLiteral("document.body.textContent")).toString().contains(QStringLiteral("Five grows")));
        QCOMPARE(sectionIds(*page).size(), 5);
        QVERIFY(evaluate(*page, QStringLiteral("window.firstSection === document.querySelector('.exchange-wrapper')")).toBool());
        QCOMPARE(page->lastDisplayedMarkdown(), session->markdown());
        QCOMPARE(loads.count(), 0);
    }

    void readerAtTheEndFollowsAndReaderInTheMiddleStays()
    {
        auto session = writeSession(exchanges(1, 12, 6));
        auto page = makePage();
        QVERIFY(showSession(*page, session));
        QVERIFY(maxScroll(*page) > 2000);

        evaluate(*page, QStringLiteral("window.scrollTo(0, document.documentElement.scrollHeight)"));
        QTRY_VERIFY(scrollY(*page) >= maxScroll(*page) - 1);
        QSignalSpy updates(page.get(), &TVLPageController::incrementalUpdateSent);
        growAndNotify(session, exchanges(1, 14, 6));
        QVERIFY(updates.wait(10000));
        QTRY_COMPARE(sectionIds(*page).size(), 14);
        QTRY_VERIFY_WITH_TIMEOUT(scrollY(*page) >= maxScroll(*page) - 1, 8000);

        evaluate(*page, QStringLiteral("window.scrollTo(0, 700)"));
        QTRY_COMPARE(scrollY(*page), 700.0);
        growAndNotify(session, exchanges(1, 16, 6));
        QVERIFY(updates.wait(10000));
        QTRY_COMPARE(sectionIds(*page).size(), 16);
        waitForFrames(*page);
        QCOMPARE(scrollY(*page), 700.0);
    }

    void fullReloadKeepsThePositionAndSkipsUnchangedMarkdown()
    {
        auto session = writeSession(exchanges(1, 12, 6));
        auto page = makePage();
        QVERIFY(showSession(*page, session));
        evaluate(*page, QStringLiteral("window.scrollTo(0, 900); window.survivor = 1"));
        QTRY_COMPARE(scrollY(*page), 900.0);

        // Unchanged Markdown: nothing happens, not even a load.
        QSignalSpy loads(page.get(), &TVLPageController::pageLoaded);
        const quint64 loadsBefore = page->loadCount();
        page->fullReloadSession(session);
        // The page answers in order: the reload had its answer before this one.
        QCOMPARE(evaluate(*page, QStringLiteral("window.survivor")).toInt(), 1);
        QCOMPARE(page->loadCount(), loadsBefore);
        QCOMPARE(loads.count(), 0);

        // The file was rewritten shorter: a full reload that returns to the offset.
        QList<QJsonObject> rewritten = exchanges(1, 10, 6);
        QVERIFY(waitForLoad(*page, [&] { growAndNotify(session, rewritten); }));
        QCOMPARE(sectionIds(*page).size(), 10);
        QCOMPARE(page->lastDisplayedExchangeCount(), 10u);
        QVERIFY(!evaluate(*page, QStringLiteral("'survivor' in window")).toBool());
        QTRY_COMPARE(scrollY(*page), 900.0);
        QCOMPARE(page->pendingScrollTop(), 0.0);

        // A reader at the end stays at the end.
        evaluate(*page, QStringLiteral("window.scrollTo(0, document.documentElement.scrollHeight)"));
        QTRY_VERIFY(scrollY(*page) >= maxScroll(*page) - 1);
        QVERIFY(waitForLoad(*page, [&] { growAndNotify(session, exchanges(1, 9, 8)); }));
        QTRY_VERIFY(scrollY(*page) > 0 && scrollY(*page) >= maxScroll(*page) - 1);
    }

    void promptCodeIsNeverHighlighted()
    {
        QList<QJsonObject> lines{
            TB::prompt(QStringLiteral("U-1"), QStringLiteral("def prompt():\n    return 'not code'")),
            TB::assistant(QStringLiteral("A-1"), QStringLiteral("```python\ndef answer():\n    return 42\n```"))};
        auto session = writeSession(lines);
        auto page = makePage();
        QVERIFY(showSession(*page, session));
        const QString promptCode = QStringLiteral("document.querySelector('.user > pre code').className");
        const QString answerCode = QStringLiteral("document.querySelector('.assistant pre code').className");
        QTRY_VERIFY(evaluate(*page, answerCode).toString().contains(QStringLiteral("hljs")));
        QVERIFY(!evaluate(*page, promptCode).toString().contains(QStringLiteral("hljs")));
        QCOMPARE(evaluate(*page, QStringLiteral("document.querySelectorAll('.user span').length")).toInt(), 0);

        lines << TB::prompt(QStringLiteral("U-2"), QStringLiteral("int main() { return 0; }"))
              << TB::assistant(QStringLiteral("A-2"), QStringLiteral("```cpp\nint main() { return 1; }\n```"));
        QSignalSpy updates(page.get(), &TVLPageController::incrementalUpdateSent);
        growAndNotify(session, lines);
        QVERIFY(updates.wait(10000));
        QTRY_COMPARE(sectionIds(*page).size(), 2);
        QTRY_COMPARE(evaluate(*page, QStringLiteral("document.querySelectorAll('.assistant pre code.hljs').length")).toInt(), 2);
        QCOMPARE(evaluate(*page, QStringLiteral("document.querySelectorAll('.user pre code.hljs, .user pre code span').length")).toInt(), 0);
    }

    // Blocks far from the view wait until the reader comes near them.
    void longPagesHighlightWhatComesIntoView()
    {
        QList<QJsonObject> lines;
        for (int i = 0; i < 300; ++i)
            lines << TB::prompt(QStringLiteral("U-%1").arg(i), QStringLiteral("question %1").arg(i))
                  << TB::assistant(QStringLiteral("A-%1").arg(i),
                                   QStringLiteral("```python\ndef f%1():\n    return %1\n```\n\n%2").arg(i).arg(QString(400, QLatin1Char('x'))));
        auto page = makePage();
        QVERIFY(showSession(*page, writeSession(lines)));
        const QString highlighted = QStringLiteral("document.querySelectorAll('.assistant pre code.hljs').length");
        const QString middleBlock = QStringLiteral("document.querySelectorAll('.assistant pre code')[150]");
        // The page opens at its end: the last blocks are highlighted, the middle ones not yet.
        QTRY_VERIFY(evaluate(*page, highlighted).toInt() > 0);
        QVERIFY(evaluate(*page, highlighted).toInt() < 150);
        QVERIFY(!evaluate(*page, middleBlock + QStringLiteral(".classList.contains('hljs')")).toBool());
        evaluate(*page, middleBlock + QStringLiteral(".scrollIntoView()"));
        QTRY_VERIFY(evaluate(*page, middleBlock + QStringLiteral(".classList.contains('hljs')")).toBool());
    }

    void transcriptMarkupNeverRunsScriptOrFetches()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const QString remote = QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort());
        const QString hostile = QStringLiteral("x\"]');document.title='owned';//");
        QList<QJsonObject> lines{
            TB::prompt(hostile, QStringLiteral("hostile id")),
            TB::assistant(QStringLiteral("A-1"),
                          QStringLiteral("<img src=x onerror=\"document.title='img'\">\n\n<svg onload=\"document.title='svg'\"></svg>\n\n"
                                         "<script>document.title='script'</script>\n\n<img src=\"%1pixel.png\">\n\n"
                                         "<link rel=\"stylesheet\" href=\"%1style.css\">\n\n[js](javascript:document.title='link')")
                              .arg(remote))};
        auto session = writeSession(lines);
        auto page = makePage();
        QVERIFY(showSession(*page, session));
        const QString title = evaluate(*page, QStringLiteral("document.title")).toString();
        QVERIFY(!title.contains(QStringLiteral("img")) && !title.contains(QStringLiteral("svg")));
        QVERIFY(!title.contains(QStringLiteral("script")));

        // Host scripts carry the hostile id as data: update, scroll, badges, popover.
        lines << TB::assistant(QStringLiteral("A-2"), QStringLiteral("more"));
        QSignalSpy updates(page.get(), &TVLPageController::incrementalUpdateSent);
        growAndNotify(session, lines);
        QVERIFY(updates.wait(10000));
        page->scrollToExchangeId(hostile);
        page->showPopoverForMessageId(hostile);
        page->setPendingScrollToExchangeId(hostile);
        QVERIFY(waitForLoad(*page, [&] { page->reloadFilteredContentWithSession(session, hostile); }));
        QTRY_VERIFY(evaluate(*page, QStringLiteral("document.body.textContent")).toString().contains(QStringLiteral("more")));
        QCOMPARE(sectionIds(*page), QStringList{hostile});

        // The script link loses its address when its block is cleaned (were it to reach the
        // confirmation, that declines it): clicked, nothing opens and the page stays.
        page->webPage()->setLinkConfirmation([](const QUrl &) { return false; });
        const int openedBefore = int(m_desktop->opened.size());
        QCOMPARE(evaluate(*page, QStringLiteral("document.querySelector('a') !== null && "
                                                "!/^\\s*javascript:/i.test(document.querySelector('a').getAttribute('href') || '')")),
                 QVariant(true));
        evaluate(*page, QStringLiteral("document.querySelector('a').click()"));
        // A round trip after the click: whatever it started has reached the host by now.
        QCOMPARE(evaluate(*page, QStringLiteral("1 + 1")).toInt(), 2);
        QCOMPARE(int(m_desktop->opened.size()), openedBefore);
        QCOMPARE(evaluate(*page, QStringLiteral("document.title")).toString(), title);
        QVERIFY(!server.hasPendingConnections());
        QVERIFY(!server.waitForNewConnection(300));
    }

    // Markup of a transcript, however broken or hostile, stays in its block: one section per
    // exchange, nothing outside them, the page's names its own, and no navigation.
    void hostileMarkupStaysInItsBlock()
    {
        auto session = writeSession(HostilePage::lines());
        auto page = makePage();
        QVERIFY(showSession(*page, session));
        QCOMPARE(sectionIds(*page), HostilePage::sectionIds());
        QCOMPARE(evaluate(*page, "document.querySelectorAll('body > :not(.exchange-wrapper), .exchange-wrapper .exchange-wrapper').length").toInt(), 0);
        QCOMPARE(evaluate(*page, "document.querySelectorAll('.user').length").toInt(), 7);
        QVERIFY(evaluate(*page, "document.querySelector('.exchange-wrapper').textContent").toString().contains("forged prompt"));
        // What was left open hides nothing after its block; a lone carriage return and a
        // diff's fence let no markup through.
        QVERIFY(evaluate(*page, "document.getElementById('H7-A').textContent").toString().contains(HostilePage::lastAnswer));
        QCOMPARE(evaluate(*page, "document.getElementById('H3-B').closest('.exchange-wrapper').dataset.sectionId").toString(), "H3-P");
        QVERIFY(evaluate(*page, "document.getElementById('H3-B').textContent").toString().contains("1 < 2 <3"));
        QCOMPARE(evaluate(*page, "document.querySelectorAll('#H6-P b, #H6-P i, #H6-A [id]').length").toInt(), 0);
        QVERIFY(evaluate(*page, "document.getElementById('H6-A').textContent").toString().contains("diff forgery"));
        // The page's names are its own; the refresh never reached the document.
        QVERIFY(evaluate(*page, "[document.createElement, document.querySelectorAll, document.getElementById, window.tavloPost]"
                                ".every(f => typeof f === 'function') && document.body.tagName === 'BODY'").toBool());
        QCOMPARE(evaluate(*page, "document.querySelectorAll('meta[http-equiv=\"refresh\" i]').length").toInt(), 0);

        // Live updates go on working.
        QList<QJsonObject> grown = HostilePage::lines();
        grown << TB::prompt("H8-P", "More") << TB::assistant("H8-A", "after the update");
        QSignalSpy updates(page.get(), &TVLPageController::incrementalUpdateSent);
        growAndNotify(session, grown);
        QVERIFY(updates.wait(10000));
        QTRY_COMPARE(sectionIds(*page).size(), 8);

        // A navigation the page starts goes nowhere.
        const QUrl shown = page->webPage()->url();
        LogCapture capture;
        m_desktop->opened.clear();
        evaluate(*page, "location.href = 'https://example.com/away'; true");
        QTRY_COMPARE(capture.count("WARNING: The page tried to go to"), 1);
        QCOMPARE(page->webPage()->url(), shown);
        QCOMPARE(sectionIds(*page).size(), 8);
        QVERIFY(m_desktop->opened.isEmpty());
    }

    // A link opens from the reader's click on its visible text, once the status line shows where
    // it goes: not from a link laid invisibly over the page, nor from a click by script.
    void onlyVisibleLinkTextOpens()
    {
        auto page = makePage();
        QVERIFY(showSession(*page, writeSession(HostilePage::linkLines())));
        QWidget *surface = page->webView()->focusProxy();
        QVERIFY(surface);
        m_desktop->opened.clear();
        clickText(*page, "document.querySelector('#H1-P code')");       // another section
        clickText(*page, "document.querySelector('#H5-A a')");          // the covering link's own text
        evaluate(*page, "document.querySelector('#H5-B a').click()");  // by script
        const QPoint visible = textCentre(*page, "document.querySelector('#H5-B a')");
        QTest::mouseMove(surface, visible);
        QTRY_COMPARE(evaluate(*page, "document.querySelector('.link-status').textContent").toString(),
                     QString::fromLatin1(HostilePage::visibleLink));
        QTest::mouseClick(surface, Qt::LeftButton, {}, visible);
        QTRY_COMPARE(m_desktop->opened, QList<QUrl>{QUrl(QString::fromLatin1(HostilePage::visibleLink))});
    }

    // Text that takes too long to format shows as it is, with a note; the rest is formatted.
    void slowTextIsShownPlain()
    {
        TVLPageSections::setBlockTimeLimit(std::chrono::milliseconds(20));
        // cmark-gfm needs about a second for this.
        const QString slow = QStringLiteral("![[]()").repeated(12000);
        LogCapture capture;
        auto session = writeSession({TB::prompt("S-P", "Format this"), TB::assistant("S-A", slow), TB::assistant("S-B", "**quick**")});
        auto page = makePage();
        const bool shown = showSession(*page, session);
        TVLPageSections::setBlockTimeLimit(std::chrono::milliseconds(1000));
        QVERIFY(shown);
        QCOMPARE(evaluate(*page, "document.querySelectorAll('#S-A .format-note').length").toInt(), 1);
        QVERIFY(evaluate(*page, "document.querySelector('#S-A pre').textContent").toString().startsWith("![[]()![[]()"));
        QCOMPARE(evaluate(*page, "document.querySelectorAll('#S-B strong').length").toInt(), 1);
        QCOMPARE(capture.count("took over 20 ms to format"), 1);
    }

    void pagesOverTwoMegabytesLoad()
    {
        QList<QJsonObject> lines;
        for (int e = 1; e <= 60; ++e) {
            lines << TB::prompt(uuidFor(e, 0), QStringLiteral("Big %1").arg(e))
                  << TB::assistant(uuidFor(e, 1), QString(60000, QLatin1Char('w')) + QStringLiteral(" end %1").arg(e));
        }
        auto session = writeSession(lines);
        QVERIFY(session->markdown().size() > 3'000'000);
        auto page = makePage();
        QVERIFY(showSession(*page, session));
        QCOMPARE(sectionIds(*page).size(), 60);
        QVERIFY(evaluate(*page, QStringLiteral("document.querySelectorAll('.exchange-wrapper')[59].textContent")).toString()
                    .contains(QStringLiteral("end 60")));
    }

    void visibleExchangesArriveAfterScrolling()
    {
        auto session = writeSession(exchanges(1, 20, 6));
        auto page = makePage();
        QSignalSpy visible(page.get(), &TVLPageController::visibleExchangesChanged);
        QVERIFY(showSession(*page, session));
        QTRY_VERIFY(!page->lastVisibleExchangeIds().isEmpty());
        QCOMPARE(page->lastVisibleExchangeIds().first(), uuidFor(1, 0));

        visible.clear();
        evaluate(*page, QStringLiteral("window.scrollTo(0, document.documentElement.scrollHeight)"));
        QTRY_VERIFY(!visible.isEmpty());
        QTRY_COMPARE(page->lastVisibleExchangeIds().last(), uuidFor(20, 0));
        QVERIFY(!page->lastVisibleExchangeIds().contains(uuidFor(1, 0)));

        // Scrolling to an exchange brings it to the top.
        page->scrollToExchangeId(uuidFor(5, 0));
        QTRY_VERIFY(std::abs(number(*page, QStringLiteral("document.getElementById('E5-L0').getBoundingClientRect().top"))) < 2);
        QTRY_COMPARE(page->lastVisibleExchangeIds().first(), uuidFor(5, 0));

        // Asked for before the page of another session has loaded: the load ends there.
        auto other = writeSession(exchanges(31, 50, 6));
        QVERIFY(waitForLoad(*page, [&] {
            page->displayObject(other);
            page->scrollToExchangeId(uuidFor(36, 0));
        }));
        QTRY_VERIFY(std::abs(number(*page, QStringLiteral("document.getElementById('E36-L0').getBoundingClientRect().top"))) < 2);
    }

    void tagsAndAnnotationsFromThePage()
    {
        auto session = writeSession(exchanges(1, 2));
        TVLProjectMetadata *metadata = session->metadata();
        QVERIFY(metadata);
        metadata->addTagIdToMessageId(2, uuidFor(1, 0));
        auto page = makePage();
        QVERIFY(showSession(*page, session));
        const TVLTag *tag2 = TVLTag::tagWithId(2);
        QVERIFY(tag2);
        const QString badges = QStringLiteral("Array.from(document.querySelectorAll('.exchange-wrapper')[%1].querySelectorAll('.tag-badge')).map(b => b.textContent)");
        QTRY_COMPARE(evaluate(*page, badges.arg(0)).toStringList().size(), 2);
        QCOMPARE(evaluate(*page, badges.arg(0)).toStringList().first(), tag2->name());
        QCOMPARE(evaluate(*page, badges.arg(1)).toStringList().size(), 1);

        // Ticking a tag in the popover reaches the store, and the badges follow.
        evaluate(*page, QStringLiteral("tavloPost({action:'toggleTag', id:'E2-L0', tagId:3, checked:true})"));
        QTRY_COMPARE(metadata->tagIdsForMessageId(uuidFor(2, 0)), QList<quint64>{3});
        QTRY_COMPARE(evaluate(*page, badges.arg(1)).toStringList().size(), 2);

        // With Command held nothing but visible-exchange reports is handled.
        hvxSetModifierFlags(HVXModifierCommand);
        evaluate(*page, QStringLiteral("tavloPost({action:'toggleTag', id:'E2-L0', tagId:3, checked:false})"));
        // Messages come in order: once this one is in, the toggle was heard.
        QSignalSpy visible(page.get(), &TVLPageController::visibleExchangesChanged);
        evaluate(*page, QStringLiteral("tavloPost({action:'visibleExchanges', ids:['probe']})"));
        QTRY_VERIFY(std::any_of(visible.cbegin(), visible.cend(), [](const QList<QVariant> &arguments) {
            return arguments.at(0).toStringList() == QStringList{QStringLiteral("probe")};
        }));
        hvxSetModifierFlags(0);
        QCOMPARE(metadata->tagIdsForMessageId(uuidFor(2, 0)), QList<quint64>{3});

        // The annotation travels into the popover intact and back.
        const QString annotation = QStringLiteral("It's done\nsecond line \\ \"quoted\"\r");
        metadata->setAnnotationForMessageId(annotation, uuidFor(1, 0));
        page->showPopoverForMessageId(uuidFor(1, 0));
        QTRY_COMPARE(evaluate(*page, QStringLiteral("document.querySelector('.tag-popover textarea') && document.querySelector('.tag-popover textarea').value")).toString(),
                     QString(annotation).replace(QStringLiteral("\r"), QStringLiteral("\n")));
        QCOMPARE(evaluate(*page, QStringLiteral("document.querySelectorAll('.tag-popover input:checked').length")).toInt(), 1);
        QCOMPARE(evaluate(*page, QStringLiteral("document.querySelectorAll('.tag-popover input').length")).toInt(),
                 int(TVLTag::allTags().size()));
        evaluate(*page, QStringLiteral("document.querySelector('.tag-popover textarea').value = 'Edited'; "
                                       "document.querySelector('.tag-popover button.primary').click()"));
        QTRY_COMPARE(metadata->annotationForMessageId(uuidFor(1, 0)), QStringLiteral("Edited"));
        QCOMPARE(evaluate(*page, QStringLiteral("!!document.querySelector('.tag-popover')")).toBool(), false);
        QTRY_VERIFY(evaluate(*page, badges.arg(0)).toStringList().last().contains(QStringLiteral("Edited")));

        // A right click reports the section and the point.
        QSignalSpy menu(page.get(), &TVLPageController::contextMenuRequested);
        evaluate(*page, QStringLiteral("document.getElementById('E2-L1').dispatchEvent(new MouseEvent('contextmenu', "
                                       "{bubbles:true, cancelable:true, clientX:40, clientY:60}))"));
        QTRY_COMPARE(menu.count(), 1);
        QCOMPARE(menu.first().at(0).toString(), uuidFor(2, 0));
        QCOMPARE(menu.first().at(1).toPoint(), QPoint(40, 60));
    }

    void colourRecordsForTags()
    {
        QCOMPARE(TVLPageController::hexColorFromColor(HVXColor::fromRgb(1, 0, 0)), QStringLiteral("#ff0000"));
        QCOMPARE(TVLPageController::contrastingTextColorForColor(HVXColor::fromRgb(1, 0, 0)), QStringLiteral("#ffffff"));
        QCOMPARE(TVLPageController::contrastingTextColorForColor(HVXColor::fromRgb(1, 1, 0)), QStringLiteral("#000000"));
        QCOMPARE(TVLPageController::hexColorFromColor(HVXColor::fromRgb(0.5, 0.5, 0.5, 0.2)), QStringLiteral("#7f7f7f"));
    }

    void foldTogglesOpenAndCloseBlocks()
    {
        const QString markdown = QStringLiteral(
            "\n<div id=\"T-1\" class=\"tool-use\">\n\n<p class=\"tool-use-header\"><span class=\"fold-toggle\">▶</span> Update(a.c)</p>\n"
            "<p class=\"tool-use-stats\">&nbsp;Added 1 lines, removed 1 lines</p>\n<div class=\"tool-use-diff folded\">\n\n"
            "```diff\n+new\n-old\n```\n\n</div>\n\n</div>\n\n");
        auto page = makePage();
        QVERIFY(waitForLoad(*page, [&] { page->fullLoad(markdown); }));
        QVERIFY(evaluate(*page, QStringLiteral("document.querySelector('.tool-use-diff').classList.contains('folded')")).toBool());
        evaluate(*page, QStringLiteral("document.querySelector('.tool-use-header').click()"));
        QVERIFY(!evaluate(*page, QStringLiteral("document.querySelector('.tool-use-diff').classList.contains('folded')")).toBool());
        QCOMPARE(evaluate(*page, QStringLiteral("document.querySelector('.fold-toggle').textContent")).toString(), QStringLiteral("▼"));
        QTRY_COMPARE(evaluate(*page, QStringLiteral("document.querySelectorAll('.tool-use-diff .hljs-addition, .tool-use-diff .hljs-deletion').length")).toInt(), 2);
        evaluate(*page, QStringLiteral("document.querySelector('.tool-use-header').click()"));
        QCOMPARE(evaluate(*page, QStringLiteral("document.querySelector('.fold-toggle').textContent")).toString(), QStringLiteral("▶"));
    }

    void toolStepsShowCallsResultsAndScreenshots()
    {
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(Qt::red);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        auto call = [](const QString &uuid, const QString &id) {
            QJsonObject line = TB::toolCall(uuid, id);
            QJsonObject message = line["message"].toObject();
            message["content"] = QJsonArray{QJsonObject{{"type", "tool_use"}, {"id", id}, {"name", "browser_take_screenshot"},
                                                        {"input", QJsonObject{{"url", "https://example.org/"}}}}};
            line["message"] = message;
            return line;
        };
        QJsonObject result = TB::toolResult("R-1", "t1");
        QJsonObject message = result["message"].toObject();
        const QJsonObject screenshot{{"type", "image"},
                                     {"source", QJsonObject{{"type", "base64"}, {"media_type", "image/png"},
                                                            {"data", QString::fromLatin1(png.toBase64())}}}};
        message["content"] = QJsonArray{QJsonObject{{"type", "tool_result"}, {"tool_use_id", "t1"},
                                                    {"content", QJsonArray{QJsonObject{{"type", "text"}, {"text", "Saved"}}, screenshot}}}};
        result["message"] = message;
        QList<QJsonObject> lines{TB::prompt("P-1", "Take a screenshot"), call("C-1", "t1"), result};

        HVXDefaults::standard().setBool("TVLShowToolSteps", true);
        auto session = writeSession(lines);
        auto page = makePage();
        QVERIFY(showSession(*page, session));
        // The screenshot decodes from its data: URL under the page's policy.
        QTRY_COMPARE(evaluate(*page, "(document.querySelector('img.tool-step-image') || {}).naturalWidth").toInt(), 40);
        QCOMPARE(evaluate(*page, "document.querySelectorAll('.tool-step').length").toInt(), 2);
        QCOMPARE(evaluate(*page, "document.querySelector('.tool-step-body').offsetHeight").toInt(), 0);
        evaluate(*page, "document.querySelector('.tool-step-call').click()");
        QVERIFY(evaluate(*page, "document.querySelector('.tool-step-body').offsetHeight > 0").toBool());

        // A step that arrives while the session is shown appears like the others.
        QSignalSpy updates(page.get(), &TVLPageController::incrementalUpdateSent);
        lines << call("C-2", "t2");
        growAndNotify(session, lines);
        QVERIFY(updates.wait(10000));
        QTRY_COMPARE(evaluate(*page, "document.querySelectorAll('.tool-step-call').length").toInt(), 2);
        HVXDefaults::standard().remove("TVLShowToolSteps");
    }

    void linksLeaveThePage()
    {
        auto page = makePage();
        QVERIFY(waitForLoad(*page, [&] {
            page->fullLoad(QStringLiteral("[web](https://example.com/a) [file](file:///etc/passwd) [blank](https://example.com/b)"));
        }));
        evaluate(*page, QStringLiteral("document.querySelectorAll('a')[2].target = '_blank'; true"));
        const QUrl before = page->webPage()->url();
        QList<QUrl> asked;
        bool allow = false;
        page->webPage()->setLinkConfirmation([&](const QUrl &url) { asked << url; return allow; });
        m_desktop->opened.clear();

        clickText(*page, QStringLiteral("document.querySelectorAll('a')[0]"));
        QTRY_COMPARE(m_desktop->opened, QList<QUrl>{QUrl(QStringLiteral("https://example.com/a"))});
        clickText(*page, QStringLiteral("document.querySelectorAll('a')[1]"));
        QTRY_COMPARE(asked.size(), 1);
        QCOMPARE(m_desktop->opened.size(), 1);
        allow = true;
        page->webPage()->openActivatedLink(QUrl(QStringLiteral("file:///etc/passwd")));
        QCOMPARE(m_desktop->opened.last(), QUrl(QStringLiteral("file:///etc/passwd")));
        QCOMPARE(asked.size(), 2);
        QCOMPARE(page->webPage()->url(), before);
    }

    void printWritesAPrivateFileWithThePrintScript()
    {
        QTemporaryDir tmp;
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        auto page = makePage();

        // Nothing shown: the alert, no file.
        const int beeps = hvxBeepCount();
        page->printCustom();
        QCOMPARE(hvxBeepCount(), beeps + 1);
        const QString directory = tmp.filePath(QStringLiteral("tavlo-%1").arg(getuid()));
        QVERIFY(!QFile::exists(directory + QStringLiteral("/tavlo_print.html")));

        auto session = writeSession(exchanges(1, 2));
        QVERIFY(showSession(*page, session));
        m_desktop->opened.clear();
        page->printCustom();
        const QString path = directory + QStringLiteral("/tavlo_print.html");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY(text.contains(QStringLiteral("<script>window.onload=function(){requestAnimationFrame(function(){requestAnimationFrame(function(){window.print();});});}</script></body>")));
        QVERIFY(text.contains(QStringLiteral("Answer 2, paragraph 2")));
        QVERIFY(!text.contains(QStringLiteral("src=\"")));
        QVERIFY(!text.contains(QStringLiteral("qwebchannel")));
        const QByteArray hash = QCryptographicHash::hash(QByteArrayLiteral("window.onload=function(){requestAnimationFrame(function(){requestAnimationFrame(function(){window.print();});});}"), QCryptographicHash::Sha256).toBase64();
        QVERIFY(text.contains(QStringLiteral("'sha256-%1'").arg(QString::fromLatin1(hash))));
        struct stat info;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);
        QCOMPARE(::stat(QFile::encodeName(directory).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0700);
        QCOMPARE(m_desktop->opened, QList<QUrl>{QUrl::fromLocalFile(path)});

        // A link planted in place of the directory is refused.
        QTemporaryDir other;
        QVERIFY(QFile::remove(path) && QDir(directory).removeRecursively());
        QVERIFY(QFile::link(other.path(), directory));
        LogCapture capture;
        page->printCustom();
        QCOMPARE(hvxBeepCount(), beeps + 2);
        QVERIFY(!QFile::exists(other.filePath(QStringLiteral("tavlo_print.html"))));
        QCOMPARE(capture.count(QStringLiteral("is not a private directory")), 1);
        qputenv("TMPDIR", oldTmp);
    }

    void standalonePageRunsOnlyItsOwnScripts()
    {
        const QString body = QStringLiteral(
            "<div id=\"A-1\" class=\"assistant\">\n<img src=x onerror=\"document.title='owned'\">\n"
            "<pre><code class=\"language-python\">def f():\n    return 1\n</code></pre>\n</div>\n");
        const QString document = TVLPageTemplate::shared().standaloneDocumentWithBody(body);
        QVERIFY(!document.contains(QStringLiteral("src=\"highlight")));
        QVERIFY(!document.contains(QStringLiteral("href=\"tavlo-page.css\"")));
        QVERIFY(document.contains(QStringLiteral("script-src 'sha256-")));

        // Opened outside the program (a plain page, no channel): its scripts run, the
        // transcript's handler does not.
        QWebEngineView view;
        view.resize(800, 600);
        view.show();
        QSignalSpy loaded(view.page(), &QWebEnginePage::loadFinished);
        view.setHtml(document, QUrl(QStringLiteral("https://standalone.invalid/")));
        QVERIFY(loaded.wait(20000));
        auto run = [&](const QString &script) { return evaluateIn(view.page(), script); };
        QCOMPARE(run(QStringLiteral("typeof hljs")).toString(), QStringLiteral("object"));
        QTRY_COMPARE(run(QStringLiteral("document.querySelectorAll('pre code.hljs').length")).toInt(), 1);
        QCOMPARE(run(QStringLiteral("document.querySelectorAll('.exchange-wrapper').length")).toInt(), 1);
        // The image failed (its error event came with that) before the title is read.
        QTRY_VERIFY(run(QStringLiteral("document.querySelector('img').complete")).toBool());
        QVERIFY(run(QStringLiteral("document.title")).toString() != QStringLiteral("owned"));
    }
};

int main(int argc, char **argv)
{
    prepareWebEngineForHeadlessRuns();
    QApplication app(argc, argv);
    TestPage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_page.moc"
