#pragma once
// The tag settings: every tag of the palette with its colour and name, both editable, and the
// annotation pseudo-tag, which is shown but fixed. A change is made through the tag itself
// (TVLTag::setName, TVLTag::setColor), which saves the whole palette in "TVLTags" and tells
// every bar, badge and page to redraw. The fields follow changes made elsewhere.

#include "Halvex/AppKit/HVXViewController.h"

#include <QList>
#include <functional>

class QLineEdit;
class QToolButton;
class TVLTag;

class TVLSettingsViewController final : public HVXViewController
{
    Q_OBJECT
public:
    explicit TVLSettingsViewController(QWidget *parent = nullptr);
    ~TVLSettingsViewController() override;

    QString hvxWindowTitle() const override { return tr("Tavlo Settings"); }
    // The palette the settings present.
    static const QList<TVLTag *> &tags();

    // Opens the settings in a small window of their own, or brings the open one to the front.
    // With a presenter set (the application's settings window, which holds these), that window.
    static TVLSettingsViewController *showSettingsWindow();
    using WindowPresenter = std::function<TVLSettingsViewController *()>;
    static void setSettingsWindowPresenter(WindowPresenter presenter);

    // The editors of the tag at a palette position; nullptr past the end.
    QLineEdit *nameEditorAt(int position) const;
    QToolButton *colorButtonAt(int position) const;

    // Renames or recolours the tag at a palette position, as the editors do.
    void commitNameAt(int position, const QString &name);
    void commitColorAt(int position, const QColor &color);

private:
    void buildViews();
    void chooseColorAt(int position);
    void tagsDidChange();

    struct Row
    {
        TVLTag *tag;
        QToolButton *colorButton;
        QLineEdit *nameEditor;
    };
    QList<Row> m_rows;
};
