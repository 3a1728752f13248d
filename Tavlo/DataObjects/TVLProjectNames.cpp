#include "TVLProjectNames.h"

#include "TVLLibraryFiles.h"

#include <QFileInfo>
#include <QHash>

namespace {
const QString kSeparator = QStringLiteral("--");

// The name `wanted` as `directories` spells it, when the file system takes the one for the other.
QString listedAs(const QString &rootDirectory, const QString &wanted, const QStringList &directories)
{
    if (directories.contains(wanted))
        return wanted;
    for (const QString &listed : directories)
        if (listed.compare(wanted, Qt::CaseInsensitive) == 0
            && QFileInfo(rootDirectory + QLatin1Char('/') + wanted).isDir())
            return listed;
    return {};
}

// The last `count` "-" pieces of `name` before its last one.
QString tail(const QStringList &pieces, qsizetype count)
{
    const qsizetype end = pieces.size() - 1;
    return pieces.mid(qMax<qsizetype>(0, end - count), qMin(count, end)).join(QLatin1Char('-'));
}
} // namespace

QStringList TVLProjectNames::directoriesIn(const QString &rootDirectory)
{
    QStringList names;
    hvxEnumerateDirectoryWith(rootDirectory, [&](const QString &entry) {
        if (hvxIsDirectory(entry))
            names.append(tvlLastPathComponent(entry));
    });
    return names;
}

QString TVLProjectNames::parentProjectDirectory(const QString &rootDirectory, const QString &name,
                                                const QStringList &directories)
{
    for (qsizetype at = name.indexOf(kSeparator); at > 0; at = name.indexOf(kSeparator, at + 1)) {
        const QString parent = listedAs(rootDirectory, name.left(at), directories);
        if (!parent.isEmpty())
            return parent;
    }
    return {};
}

QString TVLProjectNames::subprojectName(const QString &name, const QString &parentName)
{
    return name.mid(parentName.size() + kSeparator.size());
}

QStringList TVLProjectNames::distinctNames(const QStringList &directoryNames, const QStringList &plainNames)
{
    QHash<QString, QList<qsizetype>> byName;
    for (qsizetype i = 0; i < plainNames.size(); ++i)
        byName[plainNames[i]].append(i);
    QStringList names = plainNames;
    for (const QList<qsizetype> &group : std::as_const(byName)) {
        if (group.size() < 2)
            continue;
        std::vector<QStringList> pieces;
        qsizetype longest = 0;
        for (const qsizetype i : group) {
            pieces.push_back(directoryNames[i].split(QLatin1Char('-')));
            longest = qMax(longest, pieces.back().size());
        }
        for (size_t k = 0; k < pieces.size(); ++k) {
            QString chosen;
            for (qsizetype count = 1; count < longest && chosen.isEmpty(); ++count) {
                const QString mine = tail(pieces[k], count);
                bool unique = true;
                for (size_t other = 0; other < pieces.size() && unique; ++other)
                    unique = other == k || tail(pieces[other], count) != mine;
                if (unique)
                    chosen = mine;
            }
            if (chosen.isEmpty())
                chosen = directoryNames[group[qsizetype(k)]];
            names[group[qsizetype(k)]] = QStringLiteral("%1 (%2)").arg(plainNames[group[qsizetype(k)]], chosen);
        }
    }
    return names;
}
