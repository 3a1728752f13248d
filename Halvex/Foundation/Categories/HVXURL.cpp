#include "HVXURL.h"

#include "Halvex/Foundation/HVXLog.h"

#include <QFile>
#include <QFileInfo>
#include <filesystem>
#include <system_error>

QUrl hvxFileUrl(const QString &path) { return QUrl::fromLocalFile(path); }

std::optional<QUrl> hvxUrl(const QString &string)
{
    if (string.isEmpty())
        return std::nullopt;
    const QUrl url(string, QUrl::TolerantMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

bool hvxMkdirs(const QUrl &directory)
{
    if (!directory.isLocalFile()) {
        HVXLogError(QStringLiteral("Error creating directory '%1': %2")
                        .arg(directory.toString(), QStringLiteral("not a file URL")));
        return false;
    }
    const QString path = directory.toLocalFile();
    std::error_code error;
#ifdef Q_OS_WIN
    const std::filesystem::path native(path.toStdWString());
#else
    const std::filesystem::path native(QFile::encodeName(path).toStdString());
#endif
    std::filesystem::create_directories(native, error);
    // An existing directory is success; an existing file in the way is not.
    if (!error && std::filesystem::is_directory(native, error))
        return true;
    if (!error)
        error = std::make_error_code(std::errc::not_a_directory);
    HVXLogError(QStringLiteral("Error creating directory '%1': %2")
                    .arg(directory.toString(), QString::fromStdString(error.message())));
    return false;
}

bool hvxMakeDirectoryForFile(const QUrl &file)
{
    if (!file.isLocalFile()) {
        HVXLogError(QStringLiteral(" Can't call %1 on non-fileURL '%2'")
                        .arg(QStringLiteral("hvxMakeDirectoryForFile"), file.toString()));
        return false;
    }
    return hvxMkdirs(QUrl::fromLocalFile(QFileInfo(file.toLocalFile()).path()));
}

QMap<QString, QString> hvxQueryItemsAsDictionary(const QUrl &url)
{
    QMap<QString, QString> items;
    if (!url.hasQuery())
        return items;
    const QString query = url.query(QUrl::FullyEncoded);
    for (const QString &item : query.split(QLatin1Char('&'))) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        const QString name = QUrl::fromPercentEncoding(item.left(equals < 0 ? item.size() : equals).toUtf8());
        if (equals < 0)
            items.remove(name);
        else
            items.insert(name, QUrl::fromPercentEncoding(item.mid(equals + 1).toUtf8()));
    }
    return items;
}
