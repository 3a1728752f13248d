#include "TVLSettingsViewController.h"

#include "Halvex/AppKit/HVXColorNames.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Tavlo/DataObjects/TVLChangeHub.h"
#include "Tavlo/DataObjects/TVLAnnotation.h"
#include "Tavlo/DataObjects/TVLTag.h"

#include <QColorDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr int kSwatchSize = 16;

QIcon swatchIcon(const QColor &color)
{
    QPixmap pixmap(kSwatchSize, kSwatchSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.fillRect(QRect(0, 0, kSwatchSize, kSwatchSize), color);
    painter.setPen(QColor(0, 0, 0, 90));
    painter.drawRect(0, 0, kSwatchSize - 1, kSwatchSize - 1);
    return QIcon(pixmap);
}

HVXColor hvxColor(const QColor &color)
{
    return HVXColor::fromRgb(color.redF(), color.greenF(), color.blueF(), color.alphaF());
}
} // namespace

TVLSettingsViewController::TVLSettingsViewController(QWidget *parent)
    : HVXViewController(parent)
{
    setObjectName(QStringLiteral("TVLSettingsViewController"));
    buildViews();
    connect(&TVLChangeHub::shared(), &TVLChangeHub::tagsDidChange, this, &TVLSettingsViewController::tagsDidChange);
}

TVLSettingsViewController::~TVLSettingsViewController() { disconnect(&TVLChangeHub::shared(), nullptr, this, nullptr); }

const QList<TVLTag *> &TVLSettingsViewController::tags() { return TVLTag::allTags(); }

void TVLSettingsViewController::buildViews()
{
    auto *layout = new QVBoxLayout(this);
    auto *heading = new QLabel(tr("Tags"));
    QFont headingFont = heading->font();
    headingFont.setWeight(QFont::DemiBold);
    heading->setFont(headingFont);
    layout->addWidget(heading);

    auto *grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    int line = 0;
    const TVLAnnotation &annotation = TVLAnnotation::sharedAnnotation();
    auto *annotationSwatch = new QLabel;
    annotationSwatch->setPixmap(swatchIcon(hvxQColor(TVLAnnotation::colorForHasAnnotation(true))).pixmap(kSwatchSize));
    annotationSwatch->setAlignment(Qt::AlignCenter);
    auto *annotationName = new QLabel(tr("%1   Annotated messages (fixed)").arg(annotation.name()));
    grid->addWidget(annotationSwatch, line, 0);
    grid->addWidget(annotationName, line, 1);
    ++line;

    const QList<TVLTag *> &palette = tags();
    for (int position = 0; position < palette.size(); ++position) {
        TVLTag *tag = palette.at(position);
        auto *colorButton = new QToolButton;
        colorButton->setObjectName(QStringLiteral("TVLTagColorButton%1").arg(tag->tagId()));
        colorButton->setIcon(swatchIcon(hvxQColor(tag->color())));
        colorButton->setToolTip(tr("Choose the colour of \u201c%1\u201d").arg(tag->name()));
        auto *nameEditor = new QLineEdit(tag->name());
        nameEditor->setObjectName(QStringLiteral("TVLTagNameEditor%1").arg(tag->tagId()));
        nameEditor->setPlaceholderText(tr("No name (left out of tool tips)"));
        connect(colorButton, &QToolButton::clicked, this, [this, position] { chooseColorAt(position); });
        connect(nameEditor, &QLineEdit::editingFinished, this,
                [this, position, nameEditor] { commitNameAt(position, nameEditor->text()); });
        grid->addWidget(colorButton, line, 0);
        grid->addWidget(nameEditor, line, 1);
        m_rows.append(Row{tag, colorButton, nameEditor});
        ++line;
    }
    layout->addLayout(grid);
    if (palette.isEmpty())
        layout->addWidget(new QLabel(tr("No tags defined: the \u201cTVLTags\u201d setting can't be read.")));
    layout->addStretch(1);
}

QLineEdit *TVLSettingsViewController::nameEditorAt(int position) const
{
    return position >= 0 && position < m_rows.size() ? m_rows.at(position).nameEditor : nullptr;
}

QToolButton *TVLSettingsViewController::colorButtonAt(int position) const
{
    return position >= 0 && position < m_rows.size() ? m_rows.at(position).colorButton : nullptr;
}

void TVLSettingsViewController::commitNameAt(int position, const QString &name)
{
    if (position < 0 || position >= m_rows.size())
        return;
    TVLTag *tag = m_rows.at(position).tag;
    if (tag->name() != name)
        tag->setName(name);
}

void TVLSettingsViewController::commitColorAt(int position, const QColor &color)
{
    if (position < 0 || position >= m_rows.size())
        return;
    if (!color.isValid()) {
        HVXLogWarning(QStringLiteral("Not a colour for the tag at position %1, the tag keeps its colour").arg(position));
        return;
    }
    TVLTag *tag = m_rows.at(position).tag;
    if (hvxQColor(tag->color()) != color)
        tag->setColor(hvxColor(color));
}

void TVLSettingsViewController::chooseColorAt(int position)
{
    const TVLTag *tag = m_rows.at(position).tag;
    const QColor chosen = QColorDialog::getColor(hvxQColor(tag->color()), this,
                                                 tr("Colour of \u201c%1\u201d").arg(tag->name()));
    // Cancelling the dialog answers an invalid colour: nothing changes.
    if (chosen.isValid())
        commitColorAt(position, chosen);
}

void TVLSettingsViewController::tagsDidChange()
{
    for (const Row &row : m_rows) {
        row.colorButton->setIcon(swatchIcon(hvxQColor(row.tag->color())));
        row.colorButton->setToolTip(tr("Choose the colour of \u201c%1\u201d").arg(row.tag->name()));
        // A name being typed is left alone; it is committed when editing ends.
        if (!row.nameEditor->hasFocus() && row.nameEditor->text() != row.tag->name())
            row.nameEditor->setText(row.tag->name());
    }
}

namespace {
TVLSettingsViewController::WindowPresenter &settingsWindowPresenter()
{
    static TVLSettingsViewController::WindowPresenter presenter;
    return presenter;
}
} // namespace

void TVLSettingsViewController::setSettingsWindowPresenter(WindowPresenter presenter)
{
    settingsWindowPresenter() = std::move(presenter);
}

TVLSettingsViewController *TVLSettingsViewController::showSettingsWindow()
{
    if (settingsWindowPresenter())
        return settingsWindowPresenter()();
    static QPointer<TVLSettingsViewController> window;
    if (!window) {
        window = new TVLSettingsViewController;
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setWindowFlag(Qt::Window);
        window->setWindowTitle(window->hvxWindowTitle());
        window->resize(360, window->sizeHint().height());
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}
