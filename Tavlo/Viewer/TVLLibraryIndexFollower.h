#pragma once
// Keeps the library index current from the viewer's file watching: a session that was read
// again (its transcript or its sub-agents changed) and a loaded project whose sessions changed
// are brought up to date in the index on its jobs thread. Changes are gathered per path, so a
// session growing line by line costs one small update per burst, and while an update runs the
// next changes wait for it and go together.

#include <QObject>
#include <QSet>
#include <QStringList>

class QTimer;

class TVLLibraryIndexFollower final : public QObject
{
    Q_OBJECT
public:
    // The one follower of the application, made on first use (by the first viewer).
    static TVLLibraryIndexFollower &shared();

    // A path to bring up to date soon: a session file or a project directory.
    void schedule(const QString &path);

Q_SIGNALS:
    // The index holds what changed in these paths.
    void updated(const QStringList &paths);

private:
    TVLLibraryIndexFollower();
    void startUpdate();

    QTimer *m_gather;
    QSet<QString> m_pending;
    bool m_running = false;
};
