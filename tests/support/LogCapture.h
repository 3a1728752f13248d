#pragma once
// Collects the log lines written while it lives, so tests can assert what was logged.

#include <QStringList>
#include <QtGlobal>

class LogCapture final
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    // Lines containing the fragment.
    QStringList matching(const QString &fragment) const;
    int count(const QString &fragment) const { return int(matching(fragment).size()); }
    void clear();

private:
    QtMessageHandler m_previous;
};
