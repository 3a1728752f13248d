#include "TVLFindString.h"

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
