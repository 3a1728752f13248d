#pragma once
// The object the session page reaches as "tavlo" over the web channel: one method for each
// message the page's script sends, handed on as a signal with the same arguments. The channel
// converts what the page passes to these types; what does not convert arrives empty or zero,
// and the receiver treats it as nothing asked for.

#include <QObject>
#include <QString>
#include <QStringList>

class TVLPageBridge final : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // The exchanges in view changed; their ids, top to bottom.
    Q_INVOKABLE void visibleExchanges(const QStringList &ids) { Q_EMIT visibleExchangesReported(ids); }
    // The reader followed a link by clicking its visible text.
    Q_INVOKABLE void openLink(const QString &url) { Q_EMIT linkFollowed(url); }
    // A right click in a section, at a point of the view.
    Q_INVOKABLE void contextMenu(const QString &sectionId, int x, int y) { Q_EMIT contextMenuAsked(sectionId, x, y); }
    // The tag popover of a section wants its tags and annotation.
    Q_INVOKABLE void requestPopoverData(const QString &sectionId) { Q_EMIT popoverDataAsked(sectionId); }
    Q_INVOKABLE void toggleTag(const QString &sectionId, quint64 tagId, bool checked)
    {
        Q_EMIT tagToggled(sectionId, tagId, checked);
    }
    Q_INVOKABLE void saveAnnotation(const QString &sectionId, const QString &annotation)
    {
        Q_EMIT annotationSaved(sectionId, annotation);
    }
    // Sections that arrived and want their badges.
    Q_INVOKABLE void loadTagsForSections(const QStringList &sectionIds) { Q_EMIT tagsAsked(sectionIds); }

Q_SIGNALS:
    void visibleExchangesReported(const QStringList &ids);
    void linkFollowed(const QString &url);
    void contextMenuAsked(const QString &sectionId, int x, int y);
    void popoverDataAsked(const QString &sectionId);
    void tagToggled(const QString &sectionId, quint64 tagId, bool checked);
    void annotationSaved(const QString &sectionId, const QString &annotation);
    void tagsAsked(const QStringList &sectionIds);
};
