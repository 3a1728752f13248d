// GIO's headers come first: Qt's keyword macros would clash with their member names.
#include <gio/gio.h>

#include "TVLGioApplications.h"

#include "Halvex/Foundation/HVXSafeFile.h"

#include <QFile>
#include <QSet>

#include <memory>

namespace {
struct GObjectUnref
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
using AppInfo = std::unique_ptr<GAppInfo, GObjectUnref>;

QString fromUtf8(const char *text) { return text ? QString::fromUtf8(text) : QString(); }

// Takes the list and its references; the infos in order.
std::vector<AppInfo> takeList(GList *list)
{
    std::vector<AppInfo> infos;
    for (GList *item = list; item; item = item->next)
        infos.emplace_back(G_APP_INFO(item->data));
    g_list_free(list);
    return infos;
}

AppInfo applicationWithIdentifier(const QString &identifier)
{
    for (AppInfo &info : takeList(g_app_info_get_all()))
        if (fromUtf8(g_app_info_get_id(info.get())) == identifier)
            return std::move(info);
    return nullptr;
}
} // namespace

QString TVLGioApplications::contentTypeForPath(const QString &path)
{
    // The first bytes let GIO tell text from binary when the name says nothing (".jsonl").
    // Only from a regular file: a pipe named like a transcript would hold the menu up.
    QByteArray head(4096, Qt::Uninitialized);
    HVXSafeFile file(path);
    head.truncate(file.open(-1) ? qMax<qint64>(file.read(head.data(), head.size(), 0), 0) : 0);
    const QByteArray name = QFile::encodeName(path);
    gchar *type = g_content_type_guess(name.constData(), reinterpret_cast<const guchar *>(head.constData()),
                                       gsize(head.size()), nullptr);
    const QString result = fromUtf8(type);
    g_free(type);
    return result;
}

QList<TVLDesktop::Application> TVLGioApplications::applicationsForPath(const QString &path)
{
    const QByteArray type = contentTypeForPath(path).toUtf8();
    std::vector<AppInfo> infos;
    if (GAppInfo *preferred = g_app_info_get_default_for_type(type.constData(), FALSE))
        infos.emplace_back(preferred);
    for (AppInfo &info : takeList(g_app_info_get_all_for_type(type.constData())))
        infos.push_back(std::move(info));

    QList<TVLDesktop::Application> applications;
    QSet<QString> seen;
    for (const AppInfo &info : infos) {
        const QString identifier = fromUtf8(g_app_info_get_id(info.get()));
        if (identifier.isEmpty() || seen.contains(identifier) || !g_app_info_should_show(info.get()))
            continue;
        seen.insert(identifier);
        applications.append({fromUtf8(g_app_info_get_display_name(info.get())), identifier});
    }
    return applications;
}

std::optional<QString> TVLGioApplications::identifierForApplicationNamed(const QString &name)
{
    for (const AppInfo &info : takeList(g_app_info_get_all())) {
        const QString shown = fromUtf8(g_app_info_get_display_name(info.get()));
        const QString plain = fromUtf8(g_app_info_get_name(info.get()));
        if (shown.compare(name, Qt::CaseInsensitive) == 0 || plain.compare(name, Qt::CaseInsensitive) == 0)
            return fromUtf8(g_app_info_get_id(info.get()));
    }
    return std::nullopt;
}

std::optional<QString> TVLGioApplications::launch(const QString &identifier, const QUrl &url)
{
    const AppInfo info = applicationWithIdentifier(identifier);
    if (!info)
        return QStringLiteral("no application %1").arg(identifier);
    const QByteArray uri = url.toEncoded();
    GList uris{const_cast<char *>(uri.constData()), nullptr, nullptr};
    GError *error = nullptr;
    if (g_app_info_launch_uris(info.get(), &uris, nullptr, &error))
        return std::nullopt;
    const QString reason = error ? fromUtf8(error->message) : QStringLiteral("unknown error");
    g_clear_error(&error);
    return reason;
}
