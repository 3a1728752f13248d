#pragma once
// The controls at the right end of a viewer's title bar: the shown session's changes, token
// columns on or off, what session rows are titled by ("TVLSessionDisplayMode"), relative times ("TVLSessionUseRelativeTime") and
// tool steps on the page ("TVLShowToolSteps"). The settings are shared by every window, so the controls follow the settings.

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QToolButton;

class TVLViewerFlagsViewController final : public QWidget
{
    Q_OBJECT
public:
    explicit TVLViewerFlagsViewController(QWidget *parent = nullptr);

    QToolButton *tokenColumnsButton() const { return m_tokens; }
    QComboBox *sessionTitleModeBox() const { return m_titleMode; }
    QCheckBox *relativeTimeBox() const { return m_relativeTime; }
    QCheckBox *toolStepsBox() const { return m_toolSteps; }
    QToolButton *changesButton() const { return m_changes; }

    // The model of the selected object ("claude-opus-4-…"); nothing shown when empty.
    void setModelName(const QString &name);
    QLabel *modelNameLabel() const { return m_modelName; }

    // Shows whether the token columns are visible now.
    void setTokenColumnsShown(bool shown);

Q_SIGNALS:
    void toggleTokenUsageVisibility();
    void showChangesRequested();

private:
    void syncFromSettings();

    QLabel *m_modelName;
    QToolButton *m_tokens;
    QComboBox *m_titleMode;
    QCheckBox *m_relativeTime;
    QCheckBox *m_toolSteps;
    QToolButton *m_changes;
};
