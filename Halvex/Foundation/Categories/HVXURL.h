#pragma once
// URL helpers: file URLs, parsing, creating directories for files and reading query items.

#include <QMap>
#include <QString>
#include <QUrl>
#include <optional>

// A file URL for the path.
QUrl hvxFileUrl(const QString &path);
// The URL parsed from the string; absent when it is empty or not a valid URL.
std::optional<QUrl> hvxUrl(const QString &string);
// Creates the directory of a file URL with every missing parent; false (logged) on failure.
bool hvxMkdirs(const QUrl &directory);
// hvxMkdirs on the parent directory of a file URL; false (logged) for other URLs.
bool hvxMakeDirectoryForFile(const QUrl &file);
// Query items by name, decoded; a later item replaces an earlier one of the same name, and an
// item without "=" removes the name.
QMap<QString, QString> hvxQueryItemsAsDictionary(const QUrl &url);
