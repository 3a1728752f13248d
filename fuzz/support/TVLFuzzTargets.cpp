#include "TVLFuzzTargets.h"

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

// The first byte splits the input: what the file holds at the first read, and what is appended.
void transcript(QByteArrayView input)
{
    const QString path = scratchDirectory() + QStringLiteral("/project/session.jsonl");
    const qsizetype split = input.isEmpty() ? 0 : qMin<qsizetype>(quint8(input[0]) * input.size() / 256 + 1, input.size());
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

void url(QByteArrayView input) { Q_UNUSED(TVLUrlRequest::fromText(QString::fromUtf8(input.data(), input.size()))); }
} // namespace

void TVLFuzzTargets::setUp()
{
    if (g_dir)
        return;
    g_dir = new QTemporaryDir();
    HVXDefaults::useStoreAtPath(g_dir->filePath(QStringLiteral("settings.ini")));
    QDir().mkpath(g_dir->filePath(QStringLiteral("project")));
}

const std::vector<TVLFuzzTargets::Target> &TVLFuzzTargets::all()
{
    static const std::vector<Target> targets = {
        {"transcript", transcript}, {"metadata", metadata}, {"json", json}, {"markdown", markdown}, {"url", url},
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
