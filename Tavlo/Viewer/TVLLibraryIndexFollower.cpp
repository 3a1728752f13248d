#include "TVLLibraryIndexFollower.h"

#include "TVLLibraryIndexJobs.h"
#include "Tavlo/DataObjects/TVLChangeHub.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLSession.h"

#include <QTimer>

namespace {
// A burst of appended lines arrives as several file events close together.
constexpr int kGatherMilliseconds = 100;
} // namespace

TVLLibraryIndexFollower &TVLLibraryIndexFollower::shared()
{
    static TVLLibraryIndexFollower *follower = new TVLLibraryIndexFollower;
    return *follower;
}

TVLLibraryIndexFollower::TVLLibraryIndexFollower() : m_gather(new QTimer(this))
{
    m_gather->setSingleShot(true);
    m_gather->setInterval(kGatherMilliseconds);
    connect(m_gather, &QTimer::timeout, this, &TVLLibraryIndexFollower::startUpdate);
    connect(&TVLChangeHub::shared(), &TVLChangeHub::sessionDidUpdate, this, [this](const TVLSession *session) {
        if (session)
            schedule(session->path());
    });
    connect(&TVLChangeHub::shared(), &TVLChangeHub::changed, this, [this](TVLObject *node, TVLProperty property) {
        // Sessions coming and going in a loaded project; sub-agents of a session.
        if (property == TVLProperty::Children) {
            if (auto *project = dynamic_cast<TVLProject *>(node); project && project->isLoaded())
                schedule(project->path());
        } else if (property == TVLProperty::Subagents) {
            if (auto *session = dynamic_cast<TVLSession *>(node))
                schedule(session->path());
        }
    });
}

void TVLLibraryIndexFollower::schedule(const QString &path)
{
    if (path.isEmpty() || TVLLibraryIndexJobs::isStopped())
        return;
    m_pending.insert(path);
    if (!m_running && !m_gather->isActive())
        m_gather->start();
}

void TVLLibraryIndexFollower::startUpdate()
{
    if (m_pending.isEmpty() || m_running)
        return;
    QStringList paths(m_pending.begin(), m_pending.end());
    m_pending.clear();
    // A project's update covers its sessions.
    paths.sort();
    QStringList covering;
    for (const QString &path : std::as_const(paths))
        if (covering.isEmpty() || !path.startsWith(covering.last() + QLatin1Char('/')))
            covering << path;
    m_running = true;
    TVLLibraryIndexJobs::run<bool>(
        this,
        [covering](TVLLibraryIndex &index) {
            for (const QString &path : covering)
                TVLLibraryIndexJobs::update(index, path);
            return true;
        },
        [this, covering](bool) {
            m_running = false;
            Q_EMIT updated(covering);
            if (!m_pending.isEmpty())
                m_gather->start();
        });
}
