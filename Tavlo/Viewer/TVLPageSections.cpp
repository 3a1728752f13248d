#include "TVLPageSections.h"

#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/cmark/HVXMarkDown.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLSession.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QThreadPool>
#include <atomic>
#include <future>
#include <memory>

namespace {

std::atomic<qint64> g_blockTimeLimitMs{1000};

// Text this short converts in milliseconds even at cmark-gfm's worst: it is converted where it is
// asked for, without the hand-over to a worker that lets a long one be given up.
constexpr qsizetype kConvertedInPlace = 8 * 1024;

// Conversions given up on go on to their end here. The pool is never destroyed, so that leaving
// the program does not wait for them.
QThreadPool &conversionPool()
{
    static QThreadPool *pool = [] {
        auto *threads = new QThreadPool;
        threads->setMaxThreadCount(2);
        return threads;
    }();
    return *pool;
}

QString escapedHtml(const QString &text)
{
    return text.toHtmlEscaped();
}

std::optional<QString> convertWithinLimit(const QString &markdown)
{
    if (markdown.size() < kConvertedInPlace)
        return HVXMarkDown::htmlFromMarkdown(markdown);
    auto promise = std::make_shared<std::promise<std::optional<QString>>>();
    std::future<std::optional<QString>> result = promise->get_future();
    conversionPool().start([promise, markdown] { promise->set_value(HVXMarkDown::htmlFromMarkdown(markdown)); });
    if (result.wait_for(TVLPageSections::blockTimeLimit()) == std::future_status::ready)
        return result.get();
    HVXLogWarning(QStringLiteral("Text of %1 characters took over %2 ms to format; shown as plain text")
                      .arg(markdown.size())
                      .arg(TVLPageSections::blockTimeLimit().count()));
    return TVLPageSections::plainTextFallback(markdown);
}

QString htmlOf(const QString &markdown)
{
    return markdown.isEmpty() ? QString() : convertWithinLimit(markdown).value_or(QString());
}

} // namespace

std::chrono::milliseconds TVLPageSections::blockTimeLimit()
{
    return std::chrono::milliseconds(g_blockTimeLimitMs.load());
}

void TVLPageSections::setBlockTimeLimit(std::chrono::milliseconds limit)
{
    g_blockTimeLimitMs = limit.count();
}

QString TVLPageSections::plainTextFallback(const QString &markdown)
{
    return QStringLiteral("<p class=\"format-note\">Shown as plain text: formatting it took too long.</p>"
                          "<pre class=\"plain-text\"><code class=\"nohighlight\">")
           + escapedHtml(markdown) + QStringLiteral("</code></pre>");
}

TVLPageSectionSource TVLPageSections::sourceOfExchange(const TVLExchange &exchange)
{
    return {exchange.sectionId(), exchange.isPreamble(), exchange.pageBlocks(), {}};
}

TVLPageSectionSource TVLPageSections::sourceOfMarkdown(const QString &markdown)
{
    return {{}, false, {}, markdown};
}

TVLPageSources TVLPageSections::sourcesOfObject(const TVLObject &object)
{
    TVLPageSources sources;
    if (const auto *session = dynamic_cast<const TVLSession *>(&object)) {
        const bool filtering = session->isFilterActive();
        for (const auto &exchange : session->exchanges())
            if (!filtering || exchange->matchesFilter())
                sources.push_back(sourceOfExchange(*exchange));
    } else if (const auto *exchange = dynamic_cast<const TVLExchange *>(&object)) {
        sources.push_back(sourceOfExchange(*exchange));
    } else {
        sources.push_back(sourceOfMarkdown(object.markdown()));
    }
    return sources;
}

QJsonArray TVLPageSections::converted(const TVLPageSources &sources)
{
    QJsonArray sections;
    for (const TVLPageSectionSource &source : sources) {
        if (source.blocks.empty()) {
            if (!source.looseMarkdown.isEmpty())
                sections.append(QJsonObject{{QStringLiteral("html"), htmlOf(source.looseMarkdown)}});
            continue;
        }
        QJsonArray blocks;
        for (const TVLMessage::PageBlock &block : source.blocks)
            blocks.append(QJsonObject{{QStringLiteral("id"), block.id},
                                      {QStringLiteral("kind"), block.kind},
                                      {QStringLiteral("html"), htmlOf(block.markdown)}});
        QJsonObject section{{QStringLiteral("id"), source.id}, {QStringLiteral("blocks"), blocks}};
        if (source.preamble)
            section.insert(QStringLiteral("preamble"), true);
        sections.append(section);
    }
    return sections;
}

QString TVLPageSections::dataElement(const QJsonArray &sections)
{
    // "<" only occurs inside JSON strings, where its escape means the same: the element's text
    // then holds nothing the document's parser could take for the end of the element.
    QString json = QString::fromUtf8(QJsonDocument(sections).toJson(QJsonDocument::Compact));
    json.replace(QLatin1Char('<'), QLatin1String("\\u003c"));
    return QStringLiteral("<script type=\"application/json\" id=\"tavlo-page-data\">") + json + QStringLiteral("</script>");
}
