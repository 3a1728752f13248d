#pragma once
// One project directory of a log root: session transcripts (.jsonl), sub-agent folders beside
// them and the project's metadata file. A project is created cheaply from the directory listing
// and file dates alone; its transcripts are read when it is first loaded (selected or expanded),
// and from then on file events keep it current: new sessions, changed sessions, subprojects.

#include "TVLObject.h"

#include <QMap>

class TVLBackgroundRead;
class TVLSession;
class TVLSubproject;
struct TVLSessionRead;

class TVLProject : public TVLObject
{
public:
    using SessionLookup = QMap<QString, std::shared_ptr<TVLSession>>;

    // A project on the directory, unloaded; nullptr (after a warning and a beep) for anything else.
    static std::shared_ptr<TVLProject> initWithRootDir(const QString &directory);

    TVLProject();
    ~TVLProject() override;

    bool isLoaded() const { return m_isLoaded; }
    bool hasOrphanedSubagents() const { return m_hasOrphanedSubagents; }
    const QDateTime &mostRecentSessionDate() const { return m_mostRecentSessionDate; }
    const QString &projectName() const { return m_projectName; }
    // The root tells projects with the same name apart by giving them longer ones.
    void setProjectName(const QString &name);
    // The last "-" piece of the directory's name: "app" for -Users-me-app.
    static QString plainNameForDirectory(const QString &directory);
    const SessionLookup &sessionLookup() const { return m_sessionLookup; }
    const std::vector<std::shared_ptr<TVLSubproject>> &subprojects() const { return m_subprojects; }

    void refreshMostRecentSessionDateFromFilesystem();
    // Reads the transcripts now; a load in the background is waited for and taken.
    void loadIfNeeded();
    // A project whose transcripts reach the threshold is read on a worker thread and loads once
    // that is done (file events that arrive meanwhile are handled then); a smaller one loads now,
    // and so does one whose other transcripts stay under it when those of the newest-first
    // threshold or more are left out: those show their newest exchanges and read on their own.
    void loadInBackground();
    bool isLoading() const override { return m_load != nullptr; }
    QString loadingNote() const override;
    static qint64 backgroundLoadThreshold();
    static void setBackgroundLoadThreshold(qint64 bytes);
    // A transcript of this many bytes or more, in a project loaded in the background, shows its
    // newest exchanges at once and reads the rest in the background on its own.
    static qint64 newestFirstThreshold();
    static void setNewestFirstThreshold(qint64 bytes);
    virtual void updateSessions();
    void pathDidUpdate(const QString &changedPath) override;
    // Looks at everything again, as after a watch that lost events.
    void rescan();
    List displayChildren() override;
    // A project not loaded yet has not been searched: it stays in view under a filter, and is
    // matched for real once it loads.
    void updateFilters() override;
    std::optional<TVLTokenUsage> tokenUsage() override;
    void addToContextMenu(HVXMenu &menu) override;
    QString projectPath() const override { return path(); }
    QString displayTitle() const override;
    QString displayTitleString() const override { return m_projectName; }
    void updateDisplayChildren();
    QString toolTip() const override;
    QString markdown() const override;
    QString tokenUsageReportHTMLPerMessage(bool perMessage);

protected:
    // The creation steps shared with subprojects; false when the path is not a directory.
    bool initializeWithRootDir(const QString &directory);

private:
    void setIsLoaded(bool loaded);
    void setMostRecentSessionDate(const QDateTime &date);
    void setHasOrphanedSubagents(bool orphaned);
    void setSessionLookup(SessionLookup lookup);
    void setSubprojects(std::vector<std::shared_ptr<TVLSubproject>> subprojects);
    // Sessions for new transcript files, read in parallel and built in the given order.
    std::vector<std::shared_ptr<TVLSession>> createSessions(const QStringList &paths);
    void routeToSubproject(const QString &subprojectPath, const QString &changedPath);
    void addSubprojectsNotYetKnown();

    bool m_isLoaded = false;
    TVLBackgroundRead *m_load = nullptr;
    // Set while a load in the background makes its sessions: each big transcript shows its
    // newest exchanges at once and reads the rest in the background itself.
    bool m_bigSessionsNewestFirst = false;
    // Reads made in the background, taken by the sessions they are for.
    std::unique_ptr<QHash<QString, TVLSessionRead>> m_prefetchedReads;
    QStringList m_pathsChangedWhileLoading;
    bool m_hasOrphanedSubagents = false;
    QDateTime m_mostRecentSessionDate;
    QString m_projectName;
    SessionLookup m_sessionLookup;
    std::vector<std::shared_ptr<TVLSubproject>> m_subprojects;
};
