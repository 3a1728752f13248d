#pragma once
// A file opened for reading only when it is what it claims to be: a regular file no larger than
// the caller allows. The path is opened without blocking (a FIFO or a device never holds the
// caller up) and what was opened is checked, not the path, so a link swapped between a check
// and the open can't slip a device or a pipe in. Reads stop at the limit even when the file grows
// (or is a kernel file whose size says 0).
//
//     HVXSafeFile file(path);
//     if (!file.open(limit)) { log(file.errorString()); return; }
//     read(file.descriptor(), ...)    // or file.readAll()

#include <QByteArray>
#include <QString>
#include <optional>

class HVXSafeFile final
{
public:
    enum class Status { NotOpened, Open, Missing, NotRegular, TooLarge, Failed };

    explicit HVXSafeFile(const QString &path);
    ~HVXSafeFile();
    HVXSafeFile(const HVXSafeFile &) = delete;
    HVXSafeFile &operator=(const HVXSafeFile &) = delete;

    // Opens the file read-only; false (with status() and errorString() telling why) when it is
    // missing, not a regular file, or larger than maxSize bytes (negative: no limit).
    bool open(qint64 maxSize);
    void close();

    Status status() const { return m_status; }
    // Why the file was not opened, as the end of a sentence: "it is a FIFO",
    // "it is 1.0 TB, more than the 512 MB allowed", "No such file or directory".
    QString errorString() const { return m_error; }
    QString path() const { return m_path; }
    // The open descriptor (-1 when not open); it stays owned by this object.
    int descriptor() const { return m_fd; }
    // The size the file had when it was opened.
    qint64 size() const { return m_size; }
    qint64 maxSize() const { return m_maxSize; }

    // Everything from `offset` up to the limit, including what was appended since it was opened;
    // nothing when a read fails (errorString() tells why).
    std::optional<QByteArray> readAll(qint64 offset = 0);
    // Reads at most `length` bytes at `offset` into `buffer`; the count read, -1 on error.
    qint64 read(char *buffer, qint64 length, qint64 offset);

    // The whole regular file at `path`, at most maxSize bytes; nothing (with why in *error).
    static std::optional<QByteArray> readFile(const QString &path, qint64 maxSize, QString *error = nullptr);
    // A byte count as people read it: "512 MB", "1.0 TB".
    static QString sizeText(qint64 bytes);
    // Half of the machine's memory: what a reader that holds a whole file may use for it.
    static qint64 memoryLimit();

private:
    bool fail(Status status, const QString &why);

    QString m_path;
    int m_fd = -1;
    qint64 m_size = 0;
    qint64 m_maxSize = -1;
    Status m_status = Status::NotOpened;
    QString m_error;
};
