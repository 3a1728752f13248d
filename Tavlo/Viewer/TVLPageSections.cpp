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

// Text this short converts in about a millisecond even at cmark-gfm's worst: it is converted where
// it is asked for, without the hand-over to a worker that lets a long one be given up.
constexpr qsizetype kConvertedInPlace = 2 * 1024;

// Conversions given up on go on to their end here. The pool is never destroyed, so that leaving
// the program does not wait for them.
QThreadPool &conversionPool()
{
    static QThreadPool *pool = [] {
        auto *threads = new QThreadPool;
        threads->setMaxThreadCount(4);
        return threads;
    }();
    return *pool;
}

// The conversions of one page: short texts at once; long ones handed to workers together and
// waited for until one time limit for all, so that a page of many slow texts waits once.
class Conversions
{
public:
    // Returns the index its HTML will have.
    qsizetype add(const QString &markdown)
    {
        if (markdown.isEmpty() || markdown.size() < kConvertedInPlace) {
            m_html.push_back(markdown.isEmpty() ? QString() : HVXMarkDown::htmlFromMarkdown(markdown).value_or(QString()));
            return qsizetype(m_html.size()) - 1;
        }
        auto promise = std::make_shared<std::promise<std::optional<QString>>>();
        m_long.push_back({qsizetype(m_html.size()), markdown, promise->get_future()});
        conversionPool().start([promise, markdown] { promise->set_value(HVXMarkDown::htmlFromMarkdown(markdown)); });
        m_html.push_back({});
        return qsizetype(m_html.size()) - 1;
    }

    // Every HTML, in the order added; a long text not converted in time as it is, with a note.
    std::vector<QString> finish()
    {
        const auto deadline = std::chrono::steady_clock::now() + TVLPageSections::blockTimeLimit();
        for (LongText &text : m_long) {
            if (text.result.wait_until(deadline) == std::future_status::ready) {
                m_html[size_t(text.index)] = text.result.get().value_or(QString());
                continue;
            }
            HVXLogWarning(QStringLiteral("Text of %1 characters took over %2 ms to format; shown as plain text")
                              .arg(text.markdown.size())
                              .arg(TVLPageSections::blockTimeLimit().count()));
            m_html[size_t(text.index)] = TVLPageSections::plainTextFallback(text.markdown);
        }
        return std::move(m_html);
    }

private:
    struct LongText
    {
        qsizetype index;
        QString markdown;
        std::future<std::optional<QString>> result;
    };
    std::vector<QString> m_html;
    std::vector<LongText> m_long;
};

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
           + markdown.toHtmlEscaped() + QStringLiteral("</code></pre>");
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
    Conversions conversions;
    for (const TVLPageSectionSource &source : sources) {
        if (source.blocks.empty())
            conversions.add(source.looseMarkdown);
        for (const TVLMessage::PageBlock &block : source.blocks)
            conversions.add(block.markdown);
    }
    const std::vector<QString> html = conversions.finish();

    QJsonArray sections;
    size_t next = 0;
    for (const TVLPageSectionSource &source : sources) {
        if (source.blocks.empty()) {
            sections.append(QJsonObject{{QStringLiteral("html"), html[next++]}});
            continue;
        }
        QJsonArray blocks;
        for (const TVLMessage::PageBlock &block : source.blocks)
            blocks.append(QJsonObject{{QStringLiteral("id"), block.id},
                                      {QStringLiteral("kind"), block.kind},
                                      {QStringLiteral("html"), html[next++]}});
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
