// `tavlo export` of a session whose text tries to break its page, opened in the web engine the way
// a browser opens the file: one section per exchange, nothing of a transcript outside its
// section, the page's own names intact, and no refresh.

#include "HostilePage.h"
#include "Tavlo/Application/TVLCommandLine.h"
#include "TranscriptBuilder.h"
#include "ViewerTestKit.h"
#include "WebEngineEnvironment.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QWebEngineView>

class TestExportPage : public QObject
{
    Q_OBJECT
    ViewerTestKit m_kit;

    static QVariant run(QWebEnginePage *page, const QString &script) { return ViewerTestKit::evaluate(page, script, 10000); }

private Q_SLOTS:
    void hostileSessionExportsWholeSections()
    {
        const QString session = TranscriptBuilder::write(m_kit.filePath("projects/-home-me-app/s.jsonl"), HostilePage::lines());
        const QString output = m_kit.filePath("page.html");
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        QCOMPARE(TVLCommandLine::run({"export", session, "-o", output}, outStream, errStream).value_or(-1), 0);

        QWebEngineView view;
        view.resize(900, 700);
        view.show();
        QSignalSpy loaded(view.page(), &QWebEnginePage::loadFinished);
        view.load(QUrl::fromLocalFile(output));
        QVERIFY(loaded.wait(20000));
        QWebEnginePage *page = view.page();
        QCOMPARE(run(page, "Array.from(document.querySelectorAll('.exchange-wrapper')).map(w => w.getAttribute('data-section-id'))")
                     .toStringList(),
                 HostilePage::sectionIds());
        QCOMPARE(run(page, "document.querySelectorAll('body > :not(.exchange-wrapper)').length").toInt(), 0);
        QCOMPARE(run(page, "document.querySelectorAll('.user').length").toInt(), 7);
        QVERIFY(run(page, "document.getElementById('H7-A').textContent").toString().contains(HostilePage::lastAnswer));
        QVERIFY(run(page, "typeof document.createElement === 'function' && document.body.tagName === 'BODY'").toBool());
        QCOMPARE(run(page, "document.querySelectorAll('meta[http-equiv=\"refresh\" i]').length").toInt(), 0);
        QCOMPARE(view.url(), QUrl::fromLocalFile(output));
    }
};

int main(int argc, char **argv)
{
    prepareWebEngineForHeadlessRuns();
    QApplication app(argc, argv);
    TestExportPage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_exportpage.moc"
