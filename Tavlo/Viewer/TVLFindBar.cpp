#include "TVLFindBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

namespace {
QToolButton *makeButton(const QString &objectName, const QString &text, const QString &toolTip, bool checkable)
{
    auto *button = new QToolButton;
    button->setObjectName(objectName);
    button->setText(text);
    button->setToolTip(toolTip);
    button->setCheckable(checkable);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}
} // namespace

TVLFindBar::TVLFindBar(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("TVLFindBar"));
    m_field = new QLineEdit;
    m_field->setObjectName(QStringLiteral("TVLSearchField"));
    m_field->setClearButtonEnabled(true);
    m_field->setPlaceholderText(tr("Find"));
    m_field->setMinimumWidth(220);
    m_field->installEventFilter(this);

    m_caseButton = makeButton(QStringLiteral("TVLMatchCaseButton"), tr("Match Case"), tr("Match upper and lower case"), true);
    m_filterButton = makeButton(QStringLiteral("TVLFilterButton"), tr("Filter"),
                                tr("Show only matching exchanges instead of marking them"), true);
    m_previousButton = makeButton(QStringLiteral("TVLFindPreviousButton"), QStringLiteral("\u25B2"), tr("Previous match"), false);
    m_nextButton = makeButton(QStringLiteral("TVLFindNextButton"), QStringLiteral("\u25BC"), tr("Next match"), false);
    m_closeButton = makeButton(QStringLiteral("TVLFindCloseButton"), QStringLiteral("\u2715"), tr("Close the find bar"), false);
    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("TVLFindStatus"));
    m_status->setMinimumWidth(m_status->fontMetrics().horizontalAdvance(QStringLiteral("9999 of 9999")));

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 3, 6, 3);
    layout->setSpacing(4);
    layout->addWidget(m_field, 1);
    layout->addWidget(m_previousButton);
    layout->addWidget(m_nextButton);
    layout->addWidget(m_status);
    layout->addWidget(m_caseButton);
    layout->addWidget(m_filterButton);
    layout->addWidget(m_closeButton);

    m_typingPause = new QTimer(this);
    m_typingPause->setSingleShot(true);
    m_typingPause->setInterval(kTypingPauseMilliseconds);
    connect(m_typingPause, &QTimer::timeout, this, &TVLFindBar::reportTyping);
    connect(m_field, &QLineEdit::textEdited, this, [this](const QString &text) {
        // Clearing the field is a decision, not typing in progress.
        if (text.isEmpty())
            reportTyping();
        else
            m_typingPause->start();
    });
    connect(m_caseButton, &QToolButton::toggled, this, &TVLFindBar::caseSensitivityToggled);
    connect(m_filterButton, &QToolButton::toggled, this, &TVLFindBar::filterToggled);
    connect(m_previousButton, &QToolButton::clicked, this, &TVLFindBar::previousRequested);
    connect(m_nextButton, &QToolButton::clicked, this, &TVLFindBar::nextRequested);
    connect(m_closeButton, &QToolButton::clicked, this, &TVLFindBar::closeRequested);
}

QString TVLFindBar::text() const { return m_field->text(); }

void TVLFindBar::setText(const QString &text)
{
    m_typingPause->stop();
    if (m_field->text() != text)
        m_field->setText(text);
}

void TVLFindBar::setCaseSensitive(bool caseSensitive)
{
    const QSignalBlocker blocker(m_caseButton);
    m_caseButton->setChecked(caseSensitive);
}

void TVLFindBar::setFilters(bool filters)
{
    const QSignalBlocker blocker(m_filterButton);
    m_filterButton->setChecked(filters);
}

void TVLFindBar::setStatus(const QString &status, bool alert)
{
    m_status->setText(status);
    if (alert == m_alerting)
        return;
    m_alerting = alert;
    // The tint stands in for the alert sound, which many desktops never play.
    m_field->setStyleSheet(alert ? QStringLiteral("QLineEdit { background: #f8d7d7; color: #5a0000; }") : QString());
}

QString TVLFindBar::status() const { return m_status->text(); }

void TVLFindBar::focusField()
{
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

bool TVLFindBar::fieldHasFocus() const { return m_field->hasFocus(); }

void TVLFindBar::reportTyping()
{
    m_typingPause->stop();
    Q_EMIT textChangedByUser(m_field->text());
}

bool TVLFindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_field || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() == Qt::Key_Escape) {
        Q_EMIT closeRequested();
        return true;
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        // A search still waiting for the typing pause runs first, so next finds the new text.
        if (m_typingPause->isActive())
            reportTyping();
        if (key->modifiers() & Qt::ShiftModifier)
            Q_EMIT previousRequested();
        else
            Q_EMIT nextRequested();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
