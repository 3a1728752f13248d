#pragma once
// The "Search All Logs" window (Ctrl+Shift+F): a query field and the matching exchanges of every
// default log root, best first, found in the library index as the user types. Choosing a result
// opens its exchange in a viewer. The index is searched and kept current on its own thread; a
// long update shows its progress in the window and can be cancelled there.

#include <QElapsedTimer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTimer;

class TVLSearchAllLogsWindow final : public QWidget
{
    Q_OBJECT
public:
    // The one window, made on first use.
    static TVLSearchAllLogsWindow *shared();
    static void present();
    // Ctrl+Shift+F in `window` presents the search window.
    static void addShortcutTo(QWidget *window);

    explicit TVLSearchAllLogsWindow(QWidget *parent = nullptr);
    // The roots searched; the default log roots unless set.
    void setRoots(const QStringList &roots) { m_roots = roots; }

    QLineEdit *queryField() const { return m_query; }
    QListWidget *resultList() const { return m_results; }
    QLabel *statusLine() const { return m_status; }

Q_SIGNALS:
    // The results of `query` are in the list.
    void resultsShown(const QString &query);
    // A result was chosen: its tvl:// URL, for the window layer to open.
    void resultChosen(const QString &url);

private:
    void search();
    void choose(QListWidgetItem *item);
    QStringList roots() const;
    void showProgress();

    QLineEdit *m_query;
    QListWidget *m_results;
    QLabel *m_status;
    QLabel *m_progress;
    QPushButton *m_cancel;
    QTimer *m_typing;
    QStringList m_roots;
    int m_request = 0;
    QElapsedTimer m_sinceUpdate;
    // After Cancel no update starts again until the window is presented anew.
    bool m_updatesCancelled = false;
};
