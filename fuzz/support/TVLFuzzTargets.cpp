#include "TVLFuzzTargets.h"

#include "Halvex/AppKit/HVXAttributedString.h"
#include "Halvex/AppKit/HVXWindowRestoration.h"
#include "Halvex/AppKit/HVXWindows.h"
#include "Halvex/Foundation/Categories/HVX_JSON.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/cmark/HVXMarkDown.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLMessage.h"
#include "Tavlo/DataObjects/TVLProjectMetadata.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSessionChanges.h"
#include "Tavlo/DataObjects/TVLSessionMarkdown.h"
#include "Tavlo/DataObjects/TVLToolSteps.h"
#include "Tavlo/DataObjects/TVLUrlRequest.h"
#include "Tavlo/DataObjects/TVLWorkflowRecord.h"
#include "Tavlo/Application/TVLSingleInstance.h"
#include "Tavlo/Application/TVLUpdater.h"
#include "Tavlo/Index/TVLLibraryIndex.h"
#include "Tavlo/Index/TVLSearchQuery.h"
#include "Tavlo/Index/TVLSearchSnippet.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {
QTemporaryDir *g_dir = nullptr;

QString scratchDirectory()
{
    if (!g_dir)
        TVLFuzzTargets::setUp();
    return g_dir->path();
}

void writeFile(const QString &path, QByteArrayView bytes, bool append = false)
{
    QFile file(path);
    if (file.open(append ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes.data(), bytes.size());
}

// Everything the page and the outline ask of a session.
void exercise(TVLSession &session)
{
    Q_UNUSED(session.tokenUsage());
    Q_UNUSED(session.displayChildren());
    Q_UNUSED(session.markdown());
    for (const auto &exchange : session.exchanges()) {
        Q_UNUSED(exchange->displayTitle());
        Q_UNUSED(exchange->tokenUsage());
    }
    TVLToolSteps::setShownOverride(true);
    for (TVLMessage *message : session.messages()) {
        Q_UNUSED(message->htmlBlock());
        Q_UNUSED(message->attributionSkill());
    }
    TVLToolSteps::setShownOverride(std::nullopt);
    Q_UNUSED(TVLSessionChanges::ofSession(session).appliedEdits());
    Q_UNUSED(TVLSessionMarkdown::forSession(session, true));
}

// Where the first byte splits the input: what a file holds at the first read, and what is appended.
qsizetype splitPoint(QByteArrayView input)
{
    return input.isEmpty() ? 0 : qMin<qsizetype>(quint8(input[0]) * input.size() / 256 + 1, input.size());
}

QString text(QByteArrayView input) { return QString::fromUtf8(input.data(), input.size()); }

void transcript(QByteArrayView input)
{
    const QString path = scratchDirectory() + QStringLiteral("/project/session.jsonl");
    const qsizetype split = splitPoint(input);
    writeFile(path, input.first(split));
    const auto session = TVLSession::initWithPath(path);
    if (!session)
        return;
    exercise(*session);
    writeFile(path, input.sliced(split), true);
    session->updateMessages();
    exercise(*session);
}

void metadata(QByteArrayView input)
{
    const QString project = scratchDirectory() + QStringLiteral("/metadata");
    QDir(project).removeRecursively();
    QDir().mkpath(project);
    writeFile(project + QStringLiteral("/TavloMetaData.json"), input);
    TVLProjectMetadata store(project);
    store.load();
    for (const QString &id : store.annotatedMessageIds() + store.taggedMessageIds()) {
        Q_UNUSED(store.annotationForMessageId(id));
        Q_UNUSED(store.tagsForMessageId(id));
    }
    store.addTagIdToMessageId(1, QStringLiteral("fuzz"));
    store.setAnnotationForMessageId(QStringLiteral("note"), QStringLiteral("fuzz"));
}

void json(QByteArrayView input)
{
    const auto value = hvxJSONValue(input.toByteArray());
    if (!value)
        return;
    Q_UNUSED(hvxPrettyPrintWithIndent(*value, 1, true));
    Q_UNUSED(hvxPrettyPrint(*value));
    Q_UNUSED(hvxJSON(*value));
}

void markdown(QByteArrayView input)
{
    const QString text = QString::fromUtf8(input.data(), input.size());
    Q_UNUSED(HVXMarkDown::htmlFromMarkdown(text));
}

// A workflow run record, agent meta file or journal as written, and its bytes as a script.
void workflow(QByteArrayView input)
{
    const QString path = scratchDirectory() + QStringLiteral("/project/record.json");
    writeFile(path, input);
    Q_UNUSED(TVLWorkflowRecord::readRunRecord(path));
    Q_UNUSED(TVLWorkflowRecord::readAgentMeta(path));
    Q_UNUSED(TVLWorkflowRecord::readJournalKeys(path));
    Q_UNUSED(TVLWorkflowRecord::metaOfScript(QString::fromUtf8(input.data(), input.size())));
}

void url(QByteArrayView input) { Q_UNUSED(TVLUrlRequest::fromText(QString::fromUtf8(input.data(), input.size()))); }

// The library index: a transcript indexed, appended to and indexed again, then summed and
// searched with a query from the same bytes.
void index(QByteArrayView input)
{
    const QString project = scratchDirectory() + QStringLiteral("/index/-home-fuzz");
    const QString path = project + QStringLiteral("/session.jsonl");
    static TVLLibraryIndex *library = new TVLLibraryIndex(scratchDirectory() + QStringLiteral("/cache/library.sqlite"));
    const qsizetype split = splitPoint(input);
    writeFile(path, input.first(split));
    library->update(project);
    writeFile(path, input.sliced(split), true);
    library->update(project);
    Q_UNUSED(library->usageRecords(project));
    Q_UNUSED(library->search(text(input.first(qMin<qsizetype>(split, 40))), project, 5));
    Q_UNUSED(library->firstPrompt(path));
}

// A query (before the split) and the text of an exchange (after it).
void snippet(QByteArrayView input)
{
    const qsizetype split = splitPoint(input);
    const QString query = text(input.first(split));
    Q_UNUSED(TVLSearchQuery::forIndex(query));
    Q_UNUSED(TVLSearchSnippet::snippet(text(input.sliced(split)), query, QStringLiteral("<"), QStringLiteral(">")));
}

void markup(QByteArrayView input) { Q_UNUSED(hvxAttributedString(text(input)).string()); }

void feed(QByteArrayView input)
{
    QString reason;
    Q_UNUSED(TVLUpdater::newestItemInFeed(input.toByteArray(), &reason));
}

void instance(QByteArrayView input) { Q_UNUSED(TVLSingleInstance::decodeRequest(input.toByteArray())); }

// An entry of the restorable windows as the settings file holds it, and the window it names.
void restoration(QByteArrayView input)
{
    const auto entry = HVXWindowRestoration::entryFromText(text(input));
    if (!entry)
        return;
    QString reason;
    Q_UNUSED(HVXWindows::parseWindowIdentifier(entry->identifier, &reason));
}
} // namespace

void TVLFuzzTargets::setUp()
{
    if (g_dir)
        return;
    g_dir = new QTemporaryDir();
    HVXDefaults::useStoreAtPath(g_dir->filePath(QStringLiteral("settings.ini")));
    QDir().mkpath(g_dir->filePath(QStringLiteral("project")));
    QDir().mkpath(g_dir->filePath(QStringLiteral("index/-home-fuzz")));
}

const std::vector<TVLFuzzTargets::Target> &TVLFuzzTargets::all()
{
    static const std::vector<Target> targets = {
        {"transcript", transcript}, {"metadata", metadata}, {"json", json},   {"markdown", markdown},
        {"url", url},               {"index", index},       {"snippet", snippet}, {"markup", markup},
        {"feed", feed},             {"instance", instance}, {"restoration", restoration},
        {"workflow", workflow},
    };
    return targets;
}

const TVLFuzzTargets::Target *TVLFuzzTargets::named(const QString &name)
{
    for (const Target &target : all())
        if (name == QLatin1String(target.name))
            return &target;
    return nullptr;
}
