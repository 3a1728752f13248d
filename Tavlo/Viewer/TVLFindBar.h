#pragma once
// The find bar of a viewer window, a row above the page: the search field (with a clear
// button), the Match Case and Filter switches, previous and next, a status text ("3 of 17",
// "No matches") and a close button. It only reports what the reader does; the viewer's search
// decides what happens. Typing is reported after a short pause, so a fast typist starts one
// search rather than one per key; Return is next, Shift+Return previous, Escape closes.

#include <QWidget>

class QLabel;
class QLineEdit;
class QTimer;
class QToolButton;

class TVLFindBar final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kTypingPauseMilliseconds = 200;

    explicit TVLFindBar(QWidget *parent = nullptr);

    QString text() const;
    // Shows the text without reporting it as typed.
    void setText(const QString &text);
    void setCaseSensitive(bool caseSensitive);
    void setFilters(bool filters);
    // The status beside the field; an alert tints the field as well.
    void setStatus(const QString &status, bool alert = false);
    QString status() const;
    bool isAlerting() const { return m_alerting; }
    void focusField();
    bool fieldHasFocus() const;
    QLineEdit *field() const { return m_field; }

Q_SIGNALS:
    // The text after the reader stopped typing for a moment (or cleared the field).
    void textChangedByUser(const QString &text);
    void caseSensitivityToggled(bool caseSensitive);
    void filterToggled(bool filters);
    void nextRequested();
    void previousRequested();
    void closeRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void reportTyping();

    QLineEdit *m_field = nullptr;
    QToolButton *m_caseButton = nullptr;
    QToolButton *m_filterButton = nullptr;
    QToolButton *m_previousButton = nullptr;
    QToolButton *m_nextButton = nullptr;
    QToolButton *m_closeButton = nullptr;
    QLabel *m_status = nullptr;
    QTimer *m_typingPause = nullptr;
    bool m_alerting = false;
};
