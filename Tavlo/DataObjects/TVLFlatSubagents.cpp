#include "TVLFlatSubagents.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <mutex>

namespace {
// The session id is on the first lines; a sub-agent's first line is its prompt, which may be
// long, so a line is looked at only up to this many bytes.
constexpr qint64 kHeadBytes = 256 * 1024;
constexpr int kLinesLooked = 4;

QString sessionIdOfLine(const QByteArray &line)
{
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    for (const char *key : {"sessionId", "session_id"})
        if (const QJsonValue value = object.value(QLatin1String(key)); value.isString() && !value.toString().isEmpty())
            return value.toString();
    return {};
}

QString readSessionId(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (int i = 0; i < kLinesLooked && !file.atEnd(); ++i) {
        const QByteArray line = file.readLine(kHeadBytes);
        if (!line.endsWith('\n'))
            return {};  // cut, or still being written
        if (const QString id = sessionIdOfLine(line); !id.isEmpty())
            return id;
    }
    return {};
}
} // namespace

bool TVLFlatSubagents::hasSubagentName(const QString &fileName)
{
    return fileName.startsWith(QLatin1String("agent-")) && fileName.endsWith(QLatin1String(".jsonl"));
}

QString TVLFlatSubagents::parentSessionIdOf(const QString &path)
{
    // Kept for the life of the process, never destroyed: sessions may ask from other threads
    // while it exits.
    static std::mutex &mutex = *new std::mutex;
    static QHash<QString, QString> &known = *new QHash<QString, QString>;
    {
        std::lock_guard lock(mutex);
        if (const auto it = known.constFind(path); it != known.constEnd())
            return it.value();
    }
    const QString id = readSessionId(path);
    if (!id.isEmpty()) {
        std::lock_guard lock(mutex);
        known.insert(path, id);
    }
    return id;
}

QString TVLFlatSubagents::parentSessionPathOf(const QString &path)
{
    const QFileInfo info(path);
    if (!hasSubagentName(info.fileName()))
        return {};
    const QString id = parentSessionIdOf(path);
    // An id with a path separator names no file beside this one.
    if (id.isEmpty() || id.contains(QLatin1Char('/')) || id.contains(QLatin1Char('\\')))
        return {};
    const QString session = info.absolutePath() + QLatin1Char('/') + id + QStringLiteral(".jsonl");
    return session != info.absoluteFilePath() && QFileInfo(session).isFile() ? session : QString();
}

namespace {
// The agent-*.jsonl files of a directory, listed again only when the directory changed: every
// session of a project asks at each of its reads, and listing a big project each time would cost
// more than the reads.
QStringList flatSubagentFilesIn(const QString &directory)
{
    struct Listing
    {
        QDateTime modified;
        QStringList paths;
    };
    static std::mutex &mutex = *new std::mutex;
    static QHash<QString, Listing> &listings = *new QHash<QString, Listing>;
    const QDateTime modified = QFileInfo(directory).lastModified();
    {
        std::lock_guard lock(mutex);
        if (const auto it = listings.constFind(directory); it != listings.constEnd() && it->modified == modified)
            return it->paths;
    }
    QStringList paths;
    const QDir dir(directory);
    for (const QFileInfo &entry : dir.entryInfoList({QStringLiteral("agent-*.jsonl")}, QDir::Files | QDir::Hidden, QDir::Name))
        paths.append(entry.absoluteFilePath());
    std::lock_guard lock(mutex);
    listings.insert(directory, {modified, paths});
    return paths;
}
} // namespace

QStringList TVLFlatSubagents::subagentsOfSession(const QString &sessionPath)
{
    const QFileInfo session(sessionPath);
    const QString id = session.completeBaseName();
    QStringList paths;
    for (const QString &path : flatSubagentFilesIn(session.absolutePath()))
        if (path != session.absoluteFilePath() && parentSessionIdOf(path) == id)
            paths.append(path);
    return paths;
}
