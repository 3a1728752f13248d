#pragma once
// The page of a selected object whose transcripts are read in the background (a big project,
// or the one big session a window is on): it says how far the read is ("Loading… N MB of M")
// and follows it. Once the object is loaded the note reports it, for the viewer to show
// whatever is selected then. Another object shown on the page (or clear()) ends the note; an
// object that goes away ends it too.

#include <QObject>

#include <memory>

class TVLObject;
class TVLPageController;
enum class TVLProperty;

class TVLLoadingNote final : public QObject
{
    Q_OBJECT
public:
    explicit TVLLoadingNote(TVLPageController *page, QObject *parent = nullptr);

    // Shows the object (its page is empty until it is loaded) with the note.
    void show(const std::shared_ptr<TVLObject> &object);
    void clear();
    // The object the note is about, nullptr when none.
    std::shared_ptr<TVLObject> object() const { return m_object.lock(); }

Q_SIGNALS:
    // The object of the note is loaded; the note is cleared.
    void loaded(TVLObject *object);

private:
    void changed(TVLObject *object, TVLProperty property);
    void sendNote();

    TVLPageController *m_page;
    std::weak_ptr<TVLObject> m_object;
    // Whether the object's page has loaded (and can take the note's text).
    bool m_pageReady = false;
    bool m_finishing = false;
};
