#pragma once
// The desktop's own registry of applications, through GIO: which applications open a file of
// a given content type (the default one first), finding one by name, and launching one with a
// file. Every Linux desktop keeps its choices there (desktop entries, mimeapps.list), so Tavlo
// lists what the file manager would list.

#include "Tavlo/DataObjects/TVLDesktop.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

namespace TVLGioApplications {
// The content type GIO gives the file from its name and first bytes ("text/plain", …).
QString contentTypeForPath(const QString &path);
// The applications that open the file, the default one first, each once; hidden ones left out.
QList<TVLDesktop::Application> applicationsForPath(const QString &path);
// The identifier (desktop file id) of the application whose name is `name`, any case.
std::optional<QString> identifierForApplicationNamed(const QString &name);
// Starts the application with the URL; the reason on failure.
std::optional<QString> launch(const QString &identifier, const QUrl &url);
} // namespace TVLGioApplications
