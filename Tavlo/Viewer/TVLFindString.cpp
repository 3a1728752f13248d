#include "TVLFindString.h"

#include <QTimer>

TVLFindString &TVLFindString::shared()
{
    static TVLFindString instance;
    return instance;
}

void TVLFindString::setText(const QString &text)
{
    m_text = text;
    ++m_changeCount;
    Q_EMIT changed();
}

void TVLFindString::announceWhenIdle(const QObject *writer)
{
    if (m_pendingAnnouncements.contains(writer))
        return;
    m_pendingAnnouncements.insert(writer);
    QTimer::singleShot(0, this, [this, writer] {
        m_pendingAnnouncements.remove(writer);
        Q_EMIT didChange(writer);
    });
}
