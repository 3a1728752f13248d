#pragma once
// The find string every viewer window shares, in the role a system-wide find pasteboard plays
// elsewhere: Linux desktops have none, and the X selection is the reader's, not ours, so this
// is one string per process. Every write raises the change count, which lets a window tell
// whether it has seen the current string.

#include <QObject>
#include <QSet>
#include <QString>

class TVLFindString final : public QObject
{
    Q_OBJECT
public:
    static TVLFindString &shared();

    QString text() const { return m_text; }
    qint64 changeCount() const { return m_changeCount; }
    // Replaces the string; the change count goes up even when the text is the same, as a new
    // write to a pasteboard would.
    void setText(const QString &text);
    // Tells every window, once the event loop is idle, that `writer` set the string
    // ("TVLFindStringDidChange"); any number of calls by one writer before then tell it once.
    void announceWhenIdle(const QObject *writer);

Q_SIGNALS:
    void changed();
    void didChange(const QObject *writer);

private:
    QSet<const QObject *> m_pendingAnnouncements;
    QString m_text;
    qint64 m_changeCount = 0;
};
