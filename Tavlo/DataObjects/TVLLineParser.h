#pragma once
// Reads the fields of transcript lines that the model keeps (see TVLMessage) with simdjson's
// DOM parser, which validates every line completely. One parser serves one file read: it
// reuses its buffers from line to line and shares repeated strings (types, models, prompt ids)
// between the messages of that read. Not thread-safe; use one per thread.

#include <QHash>
#include <QString>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

class TVLMessage;

class TVLLineParser final
{
public:
    // Bytes that must stay readable after every line handed to the parser.
    static constexpr qsizetype kPadding = 64;

    TVLLineParser();
    ~TVLLineParser();
    TVLLineParser(const TVLLineParser &) = delete;
    TVLLineParser &operator=(const TVLLineParser &) = delete;

    // The file whose lines are read, for log lines.
    void setFileName(const QString &fileName) { m_fileName = fileName; }

    // Fills the message's fields from its bytes.
    void parse(TVLMessage &message);

    // Ids of the "tool_use" content items met so far, with the number of the line (0-based
    // count of parse() calls) that carried them.
    std::vector<std::pair<QString, int>> takeToolUseIds() { return std::move(m_toolUseIds); }

    // ISO 8601 internet date-time (RFC 3339: "T", seconds, optional fraction, "Z" or ±hh:mm)
    // as milliseconds since the epoch; nothing for any other text.
    static std::optional<qint64> parseTimestamp(std::string_view text);

private:
    struct Impl;
    QString intern(std::string_view text);

    std::unique_ptr<Impl> m_impl;
    QHash<QByteArray, QString> m_interned;
    std::vector<std::pair<QString, int>> m_toolUseIds;
    QString m_fileName;
    int m_lineNumber = 0;
};
