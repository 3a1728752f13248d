#pragma once
// The bytes of a transcript file, from an offset to its end, in one buffer that keeps
// TVLLineParser::kPadding readable bytes after its end, so that lines can be parsed in place.
//
// A big file is mapped read-only rather than copied: its pages belong to the page cache, cost
// no fresh memory and are shared with every other reader of the file. A small one is read into
// memory, as thousands of small mappings would only cost address space and kernel entries.
//
// A mapped file that another program cuts shorter would raise SIGBUS on the next read past its
// new end. A handler installed with the first mapping recognises such faults inside our own
// mappings and replaces the pages from there on with zeros, so the process goes on: those lines
// fail to parse, and the next read of the file (the watcher reports the change) maps it anew.
// Faults anywhere else go to the handler that was there before, or end the process as usual.
//
// Only regular files are read at all (HVXSafeFile): a FIFO or a device is refused, never waited on.

#include <QByteArray>
#include <QString>

#include <memory>

class HVXSafeFile;
struct TVLReadProgress;

namespace TVLFileBuffer {
// Files at least this long (from the offset read) are mapped.
constexpr qsizetype kMappedFrom = qsizetype(256) << 10;

// The file from `from` to its end, or nullptr (with `error` set) when it can't be read, is not a
// regular file, or is larger than maxSize (negative: no limit). Bytes read count into `progress`,
// whose stop ends the read early.
std::shared_ptr<const QByteArray> read(const QString &path, qsizetype from = 0, TVLReadProgress *progress = nullptr,
                                       QString *error = nullptr, qint64 maxSize = -1);
// The same from a file already opened.
std::shared_ptr<const QByteArray> read(HVXSafeFile &file, qsizetype from = 0, TVLReadProgress *progress = nullptr,
                                       QString *error = nullptr);

// Whether the buffer is a mapping of its file (whose bytes follow the file as it changes).
bool isMapped(const QByteArray &buffer);

// How often the bytes of a mapping were found cut short and replaced by zeros.
qint64 cutMappings();
} // namespace TVLFileBuffer
