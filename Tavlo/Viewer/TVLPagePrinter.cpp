#include "TVLPagePrinter.h"

#include "TVLPageTemplate.h"

#include "Halvex/Foundation/HVXLog.h"
#include "Tavlo/DataObjects/TVLDesktop.h"

#include <QDir>
#include <QSaveFile>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

QString TVLPagePrinter::printTrigger()
{
    const std::optional<QByteArray> script = TVLPageTemplate::resource(QStringLiteral("tavlo-print.js"));
    return script ? QString::fromUtf8(*script).trimmed() : QString();
}

std::optional<QString> TVLPagePrinter::privatePrintDirectory()
{
    const QString path = QDir(QDir::tempPath()).filePath(QStringLiteral("tavlo-%1").arg(getuid()));
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        HVXLogError(QStringLiteral("Cannot create the print directory %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno))));
        return std::nullopt;
    }
    // Somebody else's directory or a link planted under our name is never used.
    struct stat info;
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) {
        HVXLogError(QStringLiteral("The print directory %1 is not a private directory of this user").arg(path));
        return std::nullopt;
    }
    if ((info.st_mode & 0777) != 0700 && ::chmod(native.constData(), 0700) != 0) {
        HVXLogError(QStringLiteral("Cannot make the print directory %1 private").arg(path));
        return std::nullopt;
    }
    return path;
}

QString TVLPagePrinter::printDocumentWithBody(const QString &bodyHtml)
{
    const QString trigger = printTrigger();
    QString document = TVLPageTemplate::shared().standaloneDocumentWithBody(bodyHtml, {trigger});
    document.replace(QStringLiteral("</body>"), QStringLiteral("<script>%1</script></body>").arg(trigger));
    return document;
}

bool TVLPagePrinter::printBody(const QString &bodyHtml)
{
    if (bodyHtml.isEmpty()) {
        hvxBeep();
        return false;
    }
    const std::optional<QString> directory = privatePrintDirectory();
    if (!directory) {
        hvxBeep();
        return false;
    }
    const QString path = QDir(*directory).filePath(QStringLiteral("tavlo_print.html"));
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly)
                         && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
                         && file.write(printDocumentWithBody(bodyHtml).toUtf8()) >= 0 && file.commit();
    if (!written) {
        HVXLogErrorAndBeep(QStringLiteral("Cannot write the print file %1: %2").arg(path, file.errorString()));
        return false;
    }
    TVLDesktop::current().openUrl(QUrl::fromLocalFile(path));
    return true;
}
