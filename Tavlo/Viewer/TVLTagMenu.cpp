#include "TVLTagMenu.h"

#include "Tavlo/DataObjects/TVLTag.h"

#include <QCoreApplication>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>

QString TVLTagMenu::hexColorFromColor(const HVXColor &color)
{
    auto channel = [](double value) { return int(std::clamp(value, 0.0, 1.0) * 255.0); };
    return QStringLiteral("#%1%2%3")
        .arg(channel(color.red), 2, 16, QLatin1Char('0'))
        .arg(channel(color.green), 2, 16, QLatin1Char('0'))
        .arg(channel(color.blue), 2, 16, QLatin1Char('0'));
}

QString TVLTagMenu::contrastingTextColorForColor(const HVXColor &color)
{
    return hexColorFromColor(TVLTag::contrastingTextColorForColor(color));
}

QIcon TVLTagMenu::colorSwatchForColor(const HVXColor &color)
{
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(0.5, 0.5, 11, 11), 3, 3);
    painter.fillPath(path, QColor::fromRgbF(float(color.red), float(color.green), float(color.blue), float(color.alpha)));
    painter.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.3f), 1));
    painter.drawPath(path);
    painter.end();
    return QIcon(pixmap);
}

std::unique_ptr<QMenu> TVLTagMenu::menuForTags(const QList<quint64> &attachedTagIds, const Toggle &toggle,
                                               QWidget *parent)
{
    auto menu = std::make_unique<QMenu>(parent);
    for (const TVLTag *tag : TVLTag::allTags()) {
        const quint64 tagId = tag->tagId();
        // The choice is relative to the state when the menu was built.
        const bool wasAttached = attachedTagIds.contains(tagId);
        QAction *item = menu->addAction(colorSwatchForColor(tag->color()), tag->name());
        item->setCheckable(true);
        item->setChecked(wasAttached);
        QObject::connect(item, &QAction::triggered, menu.get(), [toggle, tagId, wasAttached] { toggle(tagId, !wasAttached); });
    }
    if (TVLTag::allTags().isEmpty())
        menu->addAction(QCoreApplication::translate("TVLTagMenu", "No tags defined"))->setEnabled(false);
    return menu;
}

void TVLTagMenu::popUp(const QList<quint64> &attachedTagIds, const Toggle &toggle, QWidget *parent,
                       const QPoint &globalPosition)
{
    const std::unique_ptr<QMenu> menu = menuForTags(attachedTagIds, toggle, parent);
    menu->exec(globalPosition);
}
