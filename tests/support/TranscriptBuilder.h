#pragma once
// Writes transcript lines for tests: prompts, assistant lines with usage, tool calls and results,
// in a temporary directory laid out like a log root.

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace TranscriptBuilder {
QString line(const QJsonObject &object);
QJsonObject usage(qint64 input, qint64 output, qint64 cacheCreate = 0, qint64 cacheRead = 0);

QJsonObject prompt(const QString &uuid, const QString &text, const QString &timestamp = {});
QJsonObject assistant(const QString &uuid, const QString &text, const QString &messageId = {},
                      const QJsonObject &usage = {}, const QString &timestamp = {});
QJsonObject toolCall(const QString &uuid, const QString &toolUseId, const QString &messageId = {},
                     const QJsonObject &usage = {});
QJsonObject toolResult(const QString &uuid, const QString &toolUseId, const QJsonObject &toolUseResult = {});

// Writes the lines, each followed by "\n"; creates missing directories. Returns the path.
QString write(const QString &path, const QStringList &lines);
QString write(const QString &path, const QList<QJsonObject> &objects);
void append(const QString &path, const QStringList &lines);
// Copies the fixture directory tests/fixtures/NAME to `destination`; returns the destination.
QString copyFixture(const QString &name, const QString &destination);
} // namespace TranscriptBuilder
