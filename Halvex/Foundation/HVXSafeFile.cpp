#include "HVXSafeFile.h"

#include "HVXCloseDescriptor.h"

#include <QFile>
#include <QLocale>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a directory");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }
} // namespace

HVXSafeFile::HVXSafeFile(const QString &path)
    : m_path(path)
{
}

HVXSafeFile::~HVXSafeFile() { close(); }

bool HVXSafeFile::fail(Status status, const QString &why)
{
    close();
    m_status = status;
    m_error = why;
    return false;
}

bool HVXSafeFile::open(qint64 maxSize)
{
    close();
    m_maxSize = maxSize;
    const QByteArray native = QFile::encodeName(m_path);
    // Looked at before opening, so that a device is never opened at all (opening some has effects).
    struct stat info;
    if (m_path.isEmpty() || ::stat(native.constData(), &info) != 0)
        return fail(errno == ENOENT || m_path.isEmpty() ? Status::Missing : Status::Failed,
                    m_path.isEmpty() ? QStringLiteral("no path") : errnoText(errno));
    if (!S_ISREG(info.st_mode))
        return fail(Status::NotRegular, QStringLiteral("it is %1").arg(kindOf(info.st_mode)));

    // Without blocking: the path may have become a FIFO since it was looked at.
    m_fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0)
        return fail(errno == ENOENT ? Status::Missing : Status::Failed, errnoText(errno));
    if (::fstat(m_fd, &info) != 0)
        return fail(Status::Failed, errnoText(errno));
    if (!S_ISREG(info.st_mode))
        return fail(Status::NotRegular, QStringLiteral("it is %1").arg(kindOf(info.st_mode)));
    if (maxSize >= 0 && info.st_size > maxSize)
        return fail(Status::TooLarge, QStringLiteral("it is %1, more than the %2 allowed")
                                          .arg(sizeText(info.st_size), sizeText(maxSize)));
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
    m_size = info.st_size;
    m_status = Status::Open;
    m_error.clear();
    return true;
}

void HVXSafeFile::close()
{
    if (m_fd >= 0)
        hvxCloseDescriptor(m_fd);
    m_fd = -1;
    m_size = 0;
    if (m_status == Status::Open)
        m_status = Status::NotOpened;
}

qint64 HVXSafeFile::read(char *buffer, qint64 length, qint64 offset)
{
    if (m_fd < 0)
        return -1;
    for (;;) {
        const ssize_t got = ::pread(m_fd, buffer, size_t(length), off_t(offset));
        if (got >= 0)
            return got;
        if (errno != EINTR) {
            m_error = errnoText(errno);
            return -1;
        }
    }
}

std::optional<QByteArray> HVXSafeFile::readAll(qint64 offset)
{
    if (m_fd < 0)
        return std::nullopt;
    const qint64 limit = m_maxSize >= 0 ? m_maxSize : std::numeric_limits<qint64>::max();
    QByteArray bytes(qMax<qint64>(m_size - offset, 0), Qt::Uninitialized);
    qint64 filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            // The file may have grown since it was opened: read on, in steps, up to the limit.
            if (offset + filled >= limit) {
                char probe;
                if (read(&probe, 1, offset + filled) > 0) {
                    m_error = QStringLiteral("it grew past the %1 allowed").arg(sizeText(limit));
                    return std::nullopt;
                }
                break;
            }
            const qint64 step = qMin<qint64>(qMax<qint64>(bytes.size(), 64 * 1024), limit - offset - filled);
            bytes.resize(filled + step);
        }
        const qint64 got = read(bytes.data() + filled, bytes.size() - filled, offset + filled);
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        filled += got;
    }
    bytes.truncate(filled);
    return bytes;
}

std::optional<QByteArray> HVXSafeFile::readFile(const QString &path, qint64 maxSize, QString *error)
{
    HVXSafeFile file(path);
    std::optional<QByteArray> bytes;
    if (file.open(maxSize))
        bytes = file.readAll();
    if (!bytes && error)
        *error = file.errorString();
    return bytes;
}

QString HVXSafeFile::sizeText(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

qint64 HVXSafeFile::memoryLimit()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return qint64(1) << 30;
    return qint64(pages) * pageSize / 2;
}
