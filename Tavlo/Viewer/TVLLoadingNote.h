#pragma once
// The page of a selected project that reads in the background: it says how far the read is
// ("Loading… N MB of M") and follows it. Once the project is loaded the note reports it, for
// the viewer to show whatever is selected then. Another object shown on the page (or clear())
// ends the note; a project that goes away ends it too.

#include <QObject>

#include <memory>

class TVLObject;
class TVLPageController;
class TVLProject;
enum class TVLProperty;

class TVLLoadingNote final : public QObject
{
    Q_OBJECT
public:
    explicit TVLLoadingNote(TVLPageController *page, QObject *parent = nullptr);

    // Shows the project (its page is empty until it is loaded) with the note.
    void show(const std::shared_ptr<TVLProject> &project);
    void clear();
    // The project the note is about, nullptr when none.
    std::shared_ptr<TVLProject> project() const;

Q_SIGNALS:
    // The project of the note is loaded; the note is cleared.
    void projectLoaded(TVLProject *project);

private:
    void changed(TVLObject *object, TVLProperty property);
    void sendNote();

    TVLPageController *m_page;
    std::weak_ptr<TVLProject> m_project;
    // Whether the project's page has loaded (and can take the note's text).
    bool m_pageReady = false;
};
