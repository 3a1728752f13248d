#include "HostileRoot.h"

#include "TranscriptBuilder.h"

#include <QDir>
#include <QFile>
#include <sys/stat.h>

using namespace TranscriptBuilder;

namespace {
bool makeFifo(const QString &path) { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; }

bool makeSparse(const QString &path, qint64 size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size);
}

QString hugeCall(const QString &id, const char *inputTokens)
{
    return QStringLiteral(R"({"type":"assistant","uuid":"a%1","timestamp":"2025-06-01T10:00:0%1Z","requestId":"r%1",)"
                          R"("message":{"id":"m%1","role":"assistant","model":"claude-sonnet-4-5-20250929",)"
                          R"("content":[{"type":"text","text":"done \u001b[1mbold"}],)"
                          R"("usage":{"input_tokens":%2,"output_tokens":1}}})")
        .arg(id, QString::fromLatin1(inputTokens));
}

bool ordinarySession(const QString &path)
{
    write(path, QList<QJsonObject>{prompt("o1", "an ordinary question", "2025-06-01T09:00:00Z"),
                                   assistant("o2", "an ordinary answer", "om1", usage(10, 5), "2025-06-01T09:00:05Z")});
    return QFile::exists(path);
}
} // namespace

bool HostileRoot::make(const QString &root, const QString &victim)
{
    const QString hostile = root + QStringLiteral("/-home-u-hostile");
    if (!QDir().mkpath(hostile + QStringLiteral("/plain/subagents")))
        return false;
    write(hostile + QStringLiteral("/plain.jsonl"),
          QStringList{line(prompt("p1", escapedPrompt, "2025-06-01T10:00:00Z")), hugeCall("1", "1e19"),
                      hugeCall("2", "9223372036854775807"), hugeCall("3", "9223372036854775807")});
    QFile target(victim);
    if (!target.open(QIODevice::WriteOnly) || target.write(victimContent) != victimContent.size())
        return false;
    target.close();
    const QString pipeMeta = root + QStringLiteral("/-home-u-pipe-meta");
    const QString zeroMeta = root + QStringLiteral("/-home-u-zero-meta");
    return makeFifo(hostile + QStringLiteral("/plain/subagents/agent-pipe.jsonl")) && makeFifo(hostile + QStringLiteral("/pipe.jsonl"))
        && QFile::link(QStringLiteral("/dev/zero"), hostile + QStringLiteral("/zero.jsonl"))
        && makeSparse(hostile + QStringLiteral("/sparse.jsonl"), qint64(1) << 40)
        && QFile::link(victim, hostile + QStringLiteral("/TavloMetaData.json"))
        && ordinarySession(pipeMeta + QStringLiteral("/s.jsonl")) && makeFifo(pipeMeta + QStringLiteral("/TavloMetaData.json"))
        && ordinarySession(zeroMeta + QStringLiteral("/s.jsonl"))
        && QFile::link(QStringLiteral("/dev/zero"), zeroMeta + QStringLiteral("/TavloMetaData.json"));
}
