#include "TVLSearchAllLogsWindow.h"

#include "Halvex/AppKit/HVXWindows.h"
#include "Halvex/Foundation/Categories/HVXString.h"
#include "TVLLibraryIndexActivity.h"
#include "TVLLibraryIndexJobs.h"
#include "TVLViewerViewController.h"
#include "Tavlo/DataObjects/TVLRoots.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QUrlQuery>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace {
struct Found
{
    bool ok = false;
    bool cancelled = false;  // an update was cancelled: the index doesn't hold everything
    QString error;
    std::vector<TVLLibraryIndex::SearchHit> hits;
};

constexpr int kLimit = 50;
constexpr int kUrlRole = Qt::UserRole + 1;
} // namespace

TVLSearchAllLogsWindow *TVLSearchAllLogsWindow::shared()
{
    static QPointer<TVLSearchAllLogsWindow> window;
    if (!window)
        window = new TVLSearchAllLogsWindow;
    return window;
}

void TVLSearchAllLogsWindow::present()
{
    TVLSearchAllLogsWindow *window = shared();
    window->m_updatesCancelled = false;
    window->show();
    window->raise();
    window->activateWindow();
    window->m_query->setFocus();
    window->m_query->selectAll();
}

void TVLSearchAllLogsWindow::addShortcutTo(QWidget *window)
{
    auto *action = new QAction(QStringLiteral("Search All Logs"), window);
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    action->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(action, &QAction::triggered, window, [] { present(); });
    window->addAction(action);
}

TVLSearchAllLogsWindow::TVLSearchAllLogsWindow(QWidget *parent)
    : QWidget(parent, Qt::Window), m_query(new QLineEdit), m_results(new QListWidget), m_status(new QLabel),
      m_progress(new QLabel), m_cancel(new QPushButton(QStringLiteral("Cancel"))), m_typing(new QTimer(this))
{
    setWindowTitle(QStringLiteral("Search All Logs"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    resize(760, 520);
    m_query->setPlaceholderText(QStringLiteral("Words, \"a phrase\", prefix*"));
    m_query->setClearButtonEnabled(true);
    m_results->setWordWrap(true);
    m_results->setUniformItemSizes(false);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_query);
    layout->addWidget(m_results, 1);
    layout->addWidget(m_status);
    auto *progressRow = new QHBoxLayout;
    progressRow->addWidget(m_progress, 1);
    progressRow->addWidget(m_cancel);
    layout->addLayout(progressRow);
    m_progress->setVisible(false);
    m_cancel->setVisible(false);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        m_updatesCancelled = true;
        TVLLibraryIndexJobs::cancelUpdate();
    });
    TVLLibraryIndexActivity &activity = TVLLibraryIndexActivity::shared();
    connect(&activity, &TVLLibraryIndexActivity::progressChanged, this, &TVLSearchAllLogsWindow::showProgress);
    connect(&activity, &TVLLibraryIndexActivity::updateFinished, this, &TVLSearchAllLogsWindow::showProgress);
    // Results follow the typing, once it pauses.
    m_typing->setSingleShot(true);
    m_typing->setInterval(150);
    connect(m_query, &QLineEdit::textChanged, m_typing, qOverload<>(&QTimer::start));
    connect(m_typing, &QTimer::timeout, this, &TVLSearchAllLogsWindow::search);
    connect(m_query, &QLineEdit::returnPressed, this, [this] {
        if (m_results->count() > 0)
            choose(m_results->currentItem() ? m_results->currentItem() : m_results->item(0));
    });
    connect(m_results, &QListWidget::itemActivated, this, &TVLSearchAllLogsWindow::choose);
    connect(this, &TVLSearchAllLogsWindow::resultChosen, this, [](const QString &url) {
        const QUrl parsed(url);
        HVXWindows::presentViewControllerOfClass(QString::fromLatin1(TVLViewerViewController::className),
                                                 {{QStringLiteral("path"), parsed.path()},
                                                  {QStringLiteral("exchangeUuid"), QUrlQuery(parsed).queryItemValue(QStringLiteral("exchange"))}});
    });
}

QStringList TVLSearchAllLogsWindow::roots() const
{
    if (!m_roots.isEmpty())
        return m_roots;
    QStringList roots;
    for (const QString &relative : TVLRoots::defaultRootRelativePaths())
        if (QFileInfo(QDir::homePath() + relative).isDir())
            roots << QDir::homePath() + relative;
    return roots;
}

void TVLSearchAllLogsWindow::search()
{
    const QString query = m_query->text().trimmed();
    const int request = ++m_request;
    if (query.isEmpty()) {
        m_results->clear();
        m_status->clear();
        Q_EMIT resultsShown(query);
        return;
    }
    const QStringList roots = this->roots();
    // The index is brought up to date with the first search and then every few seconds at most.
    const bool update = !m_updatesCancelled && (!m_sinceUpdate.isValid() || m_sinceUpdate.elapsed() > 5000);
    if (update)
        m_sinceUpdate.start();
    if (update)
        m_status->setText(QStringLiteral("Bringing the library index up to date\u2026"));
    TVLLibraryIndexJobs::run<Found>(
        this,
        [roots, query, update](TVLLibraryIndex &index) {
            Found found;
            found.ok = true;
            for (const QString &root : roots) {
                if (update && TVLLibraryIndexJobs::update(index, root).cancelled)
                    found.cancelled = true;
                auto hits = index.search(query, root, kLimit, &found.error);
                if (!hits) {
                    found.ok = false;
                    return found;
                }
                found.hits.insert(found.hits.end(), hits->begin(), hits->end());
            }
            std::stable_sort(found.hits.begin(), found.hits.end(), [](const auto &a, const auto &b) { return a.rank < b.rank; });
            if (found.hits.size() > size_t(kLimit))
                found.hits.resize(kLimit);
            return found;
        },
        [this, request, query](Found found) {
            if (request != m_request)
                return;  // the query changed meanwhile
            m_results->clear();
            if (!found.ok) {
                m_status->setText(QStringLiteral("The query can't be used: %1").arg(found.error));
                Q_EMIT resultsShown(query);
                return;
            }
            for (const auto &hit : found.hits) {
                QString snippet = hit.snippet;
                snippet.replace(TVLLibraryIndex::kMatchStart, QStringLiteral("\u00bb")).replace(TVLLibraryIndex::kMatchEnd, QStringLiteral("\u00ab"));
                const QString when = hit.timestamp ? QDateTime::fromMSecsSinceEpoch(hit.timestamp).toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                                                   : QString();
                // The session's own title, when it has one, names the session the exchange is in.
                const QString heading = hit.sessionTitle.isEmpty() ? hit.prompt.left(100)
                                                                   : hit.sessionTitle.left(80) + QStringLiteral(" \u00b7 ") + hit.prompt.left(100);
                auto *item = new QListWidgetItem(QStringLiteral("%1 \u2014 %2  %3\n%4")
                                                     .arg(QFileInfo(hit.project).fileName(), when, heading, snippet));
                item->setData(kUrlRole, QStringLiteral("tvl://%1?exchange=%2").arg(hit.session, hit.exchangeUuid));
                item->setToolTip(hvxAddTilde(hit.session));
                m_results->addItem(item);
            }
            if (m_results->count() > 0)
                m_results->setCurrentRow(0);
            m_status->setText((found.hits.empty() ? QStringLiteral("No exchange matches.")
                                                  : QStringLiteral("%1 exchanges").arg(found.hits.size()))
                              + (found.cancelled ? QStringLiteral(" (indexing was cancelled: only what was indexed is searched)")
                                                 : QString()));
            Q_EMIT resultsShown(query);
        });
}

void TVLSearchAllLogsWindow::showProgress()
{
    const TVLLibraryIndexActivity &activity = TVLLibraryIndexActivity::shared();
    m_progress->setVisible(activity.isUpdating());
    m_cancel->setVisible(activity.isUpdating());
    m_progress->setText(activity.isUpdating() ? TVLLibraryIndexActivity::describe(activity.progress()) : QString());
}

void TVLSearchAllLogsWindow::choose(QListWidgetItem *item)
{
    if (item)
        Q_EMIT resultChosen(item->data(kUrlRole).toString());
}
