#include "TVLWorkflowRecord.h"

#include "Halvex/Foundation/HVXLog.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {
// Run records carry a script; agent meta files a few keys. Anything bigger is not one of them.
constexpr qint64 kMaxRecordBytes = 4 * 1024 * 1024;

QJsonObject readObject(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() == 0)
        return {};
    if (info.size() > kMaxRecordBytes) {
        HVXLogWarning(QStringLiteral("Not read, too big for a workflow record: %1").arg(path));
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        HVXLogWarning(QStringLiteral("Not a JSON object, read as no names: %1").arg(path));
        return {};
    }
    return document.object();
}

// A JavaScript string literal starting at `at` (a quote); its text without escapes, and `at`
// moved past it. Escapes are kept as the character after the backslash. Null when the text ends
// before the literal does.
QString readStringLiteral(const QString &text, qsizetype &at)
{
    const QChar quote = text[at++];
    QString value = QLatin1String("");
    while (at < text.size() && text[at] != quote) {
        if (text[at] == QLatin1Char('\\') && at + 1 < text.size())
            ++at;
        value += text[at++];
    }
    if (at >= text.size())
        return {};
    ++at;
    return value;
}

bool isQuote(QChar c) { return c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`'); }

bool isIdentifierCharacter(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$'); }
} // namespace

TVLWorkflowRecord::Names TVLWorkflowRecord::metaOfScript(const QString &script)
{
    Names names;
    static const QRegularExpression metaStart(QStringLiteral("\\bmeta\\s*=\\s*\\{"));
    const QRegularExpressionMatch match = metaStart.match(script);
    if (!match.hasMatch())
        return names;
    // Walk the object literal, keeping count of the brackets, and take string values of the
    // keys at its own level.
    int depth = 1;
    QString lastKey;
    for (qsizetype at = match.capturedEnd(); at < script.size() && depth > 0;) {
        const QChar c = script[at];
        if (isQuote(c)) {
            const QString value = readStringLiteral(script, at);
            if (value.isNull())
                return {};
            if (depth == 1 && !lastKey.isEmpty()) {
                if (lastKey == QLatin1String("name") && names.name.isNull())
                    names.name = value;
                else if (lastKey == QLatin1String("description") && names.description.isNull())
                    names.description = value;
            }
            lastKey.clear();
            continue;
        }
        if (c == QLatin1Char('{') || c == QLatin1Char('[') || c == QLatin1Char('('))
            ++depth;
        else if (c == QLatin1Char('}') || c == QLatin1Char(']') || c == QLatin1Char(')'))
            --depth;
        if (isIdentifierCharacter(c)) {
            const qsizetype start = at;
            while (at < script.size() && isIdentifierCharacter(script[at]))
                ++at;
            qsizetype next = at;
            while (next < script.size() && script[next].isSpace())
                ++next;
            lastKey = next < script.size() && script[next] == QLatin1Char(':') ? script.mid(start, at - start) : QString();
            continue;
        }
        if (c != QLatin1Char(':') && !c.isSpace())
            lastKey.clear();
        ++at;
    }
    return names;
}

TVLWorkflowRecord::Names TVLWorkflowRecord::readRunRecord(const QString &path)
{
    const QJsonValue script = readObject(path).value(QLatin1String("script"));
    return script.isString() ? metaOfScript(script.toString()) : Names();
}

TVLWorkflowRecord::Names TVLWorkflowRecord::readAgentMeta(const QString &path)
{
    const QJsonObject meta = readObject(path);
    return {meta.value(QLatin1String("name")).toString(), meta.value(QLatin1String("description")).toString()};
}

QHash<QString, QString> TVLWorkflowRecord::readJournalKeys(const QString &path)
{
    QHash<QString, QString> keys;
    const QFileInfo info(path);
    if (!info.isFile() || info.size() == 0 || info.size() > kMaxRecordBytes)
        return keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return keys;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        // Result lines carry the agents' answers; only the short "started" lines are parsed.
        if (!line.contains("\"started\""))
            continue;
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        const QString agentId = entry.value(QLatin1String("agentId")).toString();
        const QString key = entry.value(QLatin1String("key")).toString().simplified();
        if (entry.value(QLatin1String("type")).toString() == QLatin1String("started") && !agentId.isEmpty() && !key.isEmpty())
            keys.insert(agentId, key);
    }
    return keys;
}
