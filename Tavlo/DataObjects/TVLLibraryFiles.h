#pragma once
// Path pieces as the library tree (roots, projects, subprojects) compares them: plain string
// work on absolute paths, no file-system access.

#include "Halvex/Foundation/Categories/HVXString.h"

#include <QString>

// The extension as the library's listings test it ("jsonl"); empty when there is none.
inline QString tvlExtension(const QString &path) { return hvxPathExtension(path).value_or(QString()); }

// The text after the last "." of the last path component, taken literally.
inline QString tvlPlainExtension(const QString &path)
{
    const QString name = path.section(QLatin1Char('/'), -1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}

inline QString tvlLastPathComponent(const QString &path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    return trimmed.section(QLatin1Char('/'), -1);
}

inline QString tvlDeletingLastPathComponent(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

inline QString tvlJoinPath(const QString &directory, const QString &name)
{
    if (directory.endsWith(QLatin1Char('/')))
        return directory + name;
    return directory + QLatin1Char('/') + name;
}
