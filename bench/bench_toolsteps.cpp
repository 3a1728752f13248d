// Tool steps with screenshots: a session of browser-automation exchanges whose tool results each
// hold a PNG of about 1 MB as base64 (a line of about 1.4 MB). Figures: reading the session, its
// page Markdown with tool steps off and on, the Markdown to HTML, one such line's fragment, and
// the page's full load in the real engine until every image is decoded.

#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/cmark/HVXMarkDown.h"
#include "Tavlo/DataObjects/TVLMessage.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLToolSteps.h"
#include "Tavlo/Viewer/TVLPageController.h"
#include "bench/support/TVLBenchFigures.h"
#include "bench/support/TVLBenchPageScript.h"
#include "tests/support/PageProbe.h"
#include "tests/support/WebEngineEnvironment.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QWebEngineView>

using namespace TVLBenchFigures;

namespace {
constexpr int kExchanges = 20;

// Noise does not compress: 600 × 560 pixels make a PNG of about 1 MB.
QByteArray noisePng(quint32 seed)
{
    QImage image(600, 560, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = random.generate() | 0xff000000u;
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

QByteArray line(const QJsonObject &object) { return QJsonDocument(object).toJson(QJsonDocument::Compact) + "\n"; }

QByteArray exchange(int number)
{
    const QString id = QStringLiteral("toolu_%1").arg(number);
    const QJsonObject prompt{{"type", "user"}, {"uuid", QStringLiteral("P-%1").arg(number)},
                             {"message", QJsonObject{{"role", "user"}, {"content", QStringLiteral("Open page %1").arg(number)}}}};
    const QJsonObject call{
        {"type", "assistant"}, {"uuid", QStringLiteral("C-%1").arg(number)},
        {"message", QJsonObject{{"role", "assistant"}, {"id", QStringLiteral("msg_%1").arg(number)},
                                {"content", QJsonArray{QJsonObject{{"type", "tool_use"}, {"id", id}, {"name", "browser_take_screenshot"},
                                                                   {"input", QJsonObject{{"url", "https://example.org/"}}}}}}}}};
    const QJsonObject image{{"type", "image"},
                            {"source", QJsonObject{{"type", "base64"}, {"media_type", "image/png"},
                                                   {"data", QString::fromLatin1(noisePng(quint32(number)).toBase64())}}}};
    const QJsonObject result{
        {"type", "user"}, {"uuid", QStringLiteral("R-%1").arg(number)}, {"sourceToolAssistantUUID", QStringLiteral("C-%1").arg(number)},
        {"message", QJsonObject{{"role", "user"},
                                {"content", QJsonArray{QJsonObject{{"type", "tool_result"}, {"tool_use_id", id},
                                                                   {"content", QJsonArray{QJsonObject{{"type", "text"}, {"text", "Took the screenshot"}}, image}}}}}}}};
    return line(prompt) + line(call) + line(result);
}

double milliseconds(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

double fastestOf3(const std::function<void()> &work)
{
    double best = milliseconds(work);
    for (int i = 0; i < 2; ++i)
        best = std::min(best, milliseconds(work));
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    prepareWebEngineForHeadlessRuns();
    QApplication app(argc, argv);
    QTemporaryDir work;
    HVXDefaults::useStoreAtPath(work.filePath(QStringLiteral("settings.ini")));

    const QString path = work.filePath(QStringLiteral("projects/-bench/screenshots.jsonl"));
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    qint64 longest = 0;
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    for (int i = 1; i <= kExchanges; ++i) {
        const QByteArray bytes = exchange(i);
        longest = std::max<qint64>(longest, bytes.size() - bytes.lastIndexOf('\n', bytes.size() - 2));
        file.write(bytes);
    }
    file.close();
    TVLBenchFigures::line(QStringLiteral("corpus: one generated session of %1 exchanges (prompt, screenshot call, result with "
                                         "a base64 PNG of noise), %2 MB, longest line %3 MB")
                              .arg(kExchanges)
                              .arg(double(file.size()) / (1 << 20), 0, 'f', 1)
                              .arg(double(longest) / (1 << 20), 0, 'f', 2));

    std::shared_ptr<TVLSession> session;
    figure(QStringLiteral("toolsteps-session-read"), fastestOf3([&] { session = TVLSession::initWithPath(path); }),
           QStringLiteral("ms"));
    QString markdown;
    TVLToolSteps::setShownOverride(false);
    figure(QStringLiteral("toolsteps-markdown-off"), fastestOf3([&] { markdown = session->markdown(); }), QStringLiteral("ms"));
    TVLToolSteps::setShownOverride(true);
    figure(QStringLiteral("toolsteps-markdown-on"), fastestOf3([&] { markdown = session->markdown(); }), QStringLiteral("ms"));
    figure(QStringLiteral("toolsteps-markdown-size"), double(markdown.size()) / (1 << 20), QStringLiteral("M characters"));
    figure(QStringLiteral("toolsteps-markdown-to-html"),
           fastestOf3([&] { Q_UNUSED(HVXMarkDown::htmlFromMarkdown(markdown)); }), QStringLiteral("ms"));
    TVLMessage *result = session->messages()[2];
    figure(QStringLiteral("toolsteps-fragment-of-1.4MB-line"), fastestOf3([&] { Q_UNUSED(result->htmlBlock()); }),
           QStringLiteral("ms"));

    HVXDefaults::standard().setBool(TVLToolSteps::settingKey, true);
    TVLToolSteps::setShownOverride(std::nullopt);
    TVLPageController page;
    PageProbe::view(page)->resize(1000, 800);
    PageProbe::view(page)->show();
    bool loaded = false;
    QObject::connect(&page, &TVLPageController::pageLoaded, [&] { loaded = true; });
    QElapsedTimer timer;
    timer.start();
    page.displayObject(session);
    waitOrFail([&] { return loaded; }, 120000, QStringLiteral("the page's load"));
    const double toLoad = double(timer.nsecsElapsed()) / 1e6;
    // Lazy images below the window decode when scrolled to; those in view must be complete.
    waitOrFail([&] {
        return evaluate(page, QStringLiteral("Array.from(document.images).filter(i => i.getBoundingClientRect().top < "
                                             "innerHeight).every(i => i.complete && i.naturalWidth > 0)"), 120000)
            .toBool();
    }, 120000, QStringLiteral("the images in view"));
    const double toImages = double(timer.nsecsElapsed()) / 1e6;
    figure(QStringLiteral("toolsteps-page-load"), toLoad, QStringLiteral("ms"));
    figure(QStringLiteral("toolsteps-page-load-with-visible-images-decoded"), toImages, QStringLiteral("ms"));
    figure(QStringLiteral("toolsteps-page-images"), evaluate(page, QStringLiteral("document.images.length"), 120000).toDouble(),
           QStringLiteral("images"), 0);
    const double scroll = milliseconds([&] {
        evaluate(page, QStringLiteral("window.scrollTo(0, document.body.scrollHeight); void document.body.offsetHeight; 0"), 120000);
    });
    figure(QStringLiteral("toolsteps-scroll-to-end"), scroll, QStringLiteral("ms"));
    return 0;
}
