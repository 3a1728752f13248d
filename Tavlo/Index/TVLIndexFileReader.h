#pragma once
// Reads one transcript file, or what was appended to it since a given offset, into what the
// library index keeps: the usage of every model call, and the exchanges with their searchable
// text. Lines are parsed by the model's own reader (TVLLineParser), so a line means to the
// index what it means to the viewer. Only complete lines are read; a line still being written
// waits for the next read. Safe to run on any thread (one reader per read).

#include "Tavlo/DataObjects/TVLTokenUsage.h"

#include <QByteArray>
#include <QString>
#include <vector>

struct TVLIndexedUsage
{
    QByteArray messageId;  // the model call; its key is made with the session it counts for
    quint64 key = 0;       // a line without message id: its own key, from the file and position
    bool withoutRequestId = false;  // a resumed session's replayed copy carries none
    qint64 timestamp = 0;  // ms since the epoch; 0 when the line has none
    QString model;
    TVLTokenUsage usage;
};

struct TVLIndexedExchange
{
    QString uuid;
    qint64 timestamp = 0;
    qint64 offset = 0;  // where its prompt line begins in the file
    QString prompt;     // the first prompt, cut for display
    QString text;       // prompt and assistant text, for the full-text index
};

struct TVLIndexFileContent
{
    enum Kind { Session = 0, Subagent = 1, Compaction = 2 };

    bool readable = false;
    qint64 size = 0;
    qint64 modified = 0;  // ms since the epoch
    qint64 inode = 0;
    qint64 indexedTo = 0;  // end of the last complete line read
    QByteArray tail;       // the bytes just before indexedTo, to recognise the same file later
    bool fromStart = true;
    std::vector<TVLIndexedUsage> usages;
    // Text of lines that belong to the exchange that was last when the earlier read stopped.
    QString continuedText;
    std::vector<TVLIndexedExchange> exchanges;
    // The session's titles on the lines read, the last of each kind; empty when none was.
    QString customTitle;
    QString aiTitle;
    QString summaryTitle;
};

namespace TVLIndexFileReader {
constexpr qsizetype kTailBytes = 64;

TVLIndexFileContent::Kind kindForPath(const QString &path);

// Reads `path` from `offset` when the bytes just before it are still `tail` (what an earlier
// read returned), else the whole file; `fromStart` in the result says which. A compaction
// transcript is always read whole: only its last assistant usage counts, as the viewer
// credits it to the compact summary line.
TVLIndexFileContent read(const QString &path, TVLIndexFileContent::Kind kind, qint64 offset = 0,
                         const QByteArray &tail = {});

// The exchange whose prompt line begins at `offset`, read again from the file up to `end`
// (the next exchange's start): its prompt and its searchable text. At most `maxBytes` are read.
TVLIndexedExchange readExchange(const QString &path, qint64 offset, qint64 end, qint64 maxBytes = 8 << 20);

// The key of a model call: its message id, within the session it counts for. Lines without a
// message id count on their own: their key is made from the file and the line's position.
quint64 usageKey(const QString &sessionPath, QByteArrayView messageId);
quint64 lineKey(const QString &path, qint64 offset);
} // namespace TVLIndexFileReader
