#include "TranscriptBuilder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

namespace TranscriptBuilder {
QString line(const QJsonObject &object) { return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)); }

QJsonObject usage(qint64 input, qint64 output, qint64 cacheCreate, qint64 cacheRead)
{
    return {{"input_tokens", input}, {"output_tokens", output}, {"cache_creation_input_tokens", cacheCreate},
            {"cache_read_input_tokens", cacheRead}};
}

QJsonObject prompt(const QString &uuid, const QString &text, const QString &timestamp)
{
    QJsonObject object{{"type", "user"}, {"uuid", uuid}, {"message", QJsonObject{{"role", "user"}, {"content", text}}}};
    if (!timestamp.isEmpty())
        object.insert("timestamp", timestamp);
    return object;
}

QJsonObject assistant(const QString &uuid, const QString &text, const QString &messageId, const QJsonObject &usageObject,
                      const QString &timestamp)
{
    QJsonObject message{{"role", "assistant"}, {"model", "claude-test"},
                        {"content", QJsonArray{QJsonObject{{"type", "text"}, {"text", text}}}}};
    if (!messageId.isEmpty())
        message.insert("id", messageId);
    if (!usageObject.isEmpty())
        message.insert("usage", usageObject);
    QJsonObject object{{"type", "assistant"}, {"uuid", uuid}, {"message", message}};
    if (!timestamp.isEmpty())
        object.insert("timestamp", timestamp);
    return object;
}

QJsonObject toolCall(const QString &uuid, const QString &toolUseId, const QString &messageId, const QJsonObject &usageObject)
{
    QJsonObject message{{"role", "assistant"}, {"model", "claude-test"},
                        {"content", QJsonArray{QJsonObject{{"type", "tool_use"}, {"id", toolUseId}, {"name", "Task"}}}}};
    if (!messageId.isEmpty())
        message.insert("id", messageId);
    if (!usageObject.isEmpty())
        message.insert("usage", usageObject);
    return {{"type", "assistant"}, {"uuid", uuid}, {"message", message}};
}

QJsonObject toolResult(const QString &uuid, const QString &toolUseId, const QJsonObject &toolUseResult)
{
    QJsonObject object{{"type", "user"},
                       {"uuid", uuid},
                       {"sourceToolAssistantUUID", "a"},
                       {"message", QJsonObject{{"role", "user"},
                                               {"content", QJsonArray{QJsonObject{{"type", "tool_result"},
                                                                                  {"tool_use_id", toolUseId},
                                                                                  {"content", "done"}}}}}}};
    if (!toolUseResult.isEmpty())
        object.insert("toolUseResult", toolUseResult);
    return object;
}

QString write(const QString &path, const QStringList &lines)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("can't write %s", qPrintable(path));
    for (const QString &text : lines)
        file.write(text.toUtf8() + '\n');
    return path;
}

QString write(const QString &path, const QList<QJsonObject> &objects)
{
    QStringList lines;
    for (const QJsonObject &object : objects)
        lines << line(object);
    return write(path, lines);
}

void append(const QString &path, const QStringList &lines)
{
    QFile file(path);
    if (!file.open(QIODevice::Append))
        qFatal("can't append to %s", qPrintable(path));
    for (const QString &text : lines)
        file.write(text.toUtf8() + '\n');
}

QString copyFixture(const QString &name, const QString &destination)
{
    const QString source = QStringLiteral(TAVLO_TEST_FIXTURES "/") + name;
    QDirIterator it(source, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = destination + file.mid(source.size());
        QDir().mkpath(QFileInfo(target).absolutePath());
        QFile::remove(target);
        if (!QFile::copy(file, target))
            qFatal("can't copy %s", qPrintable(file));
    }
    return destination;
}
} // namespace TranscriptBuilder
