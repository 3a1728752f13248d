#pragma once
// The colours of tags as the page and the menus show them (hex forms, a readable text colour, a
// small swatch), and the tag menu of a section: every defined tag with its swatch, ticked when
// the section carries it.

#include "Halvex/Foundation/HVXColor.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>

class QIcon;
class QMenu;
class QPoint;
class QWidget;

class TVLTagMenu final
{
public:
    // "#rrggbb", lower-case, each channel times 255 truncated.
    static QString hexColorFromColor(const HVXColor &color);
    // "#000000" on light colours, "#ffffff" on dark ones.
    static QString contrastingTextColorForColor(const HVXColor &color);
    // A 12 x 12 rounded square of the colour with a faint outline.
    static QIcon colorSwatchForColor(const HVXColor &color);

    // Called with the tag and whether to add it (it was not attached) or remove it.
    using Toggle = std::function<void(quint64 tagId, bool add)>;

    // The menu of all defined tags, ticked by `attachedTagIds`; "No tags defined", disabled,
    // when there is none.
    static std::unique_ptr<QMenu> menuForTags(const QList<quint64> &attachedTagIds, const Toggle &toggle,
                                              QWidget *parent = nullptr);
    // Shows that menu at a global position and returns when it closed.
    static void popUp(const QList<quint64> &attachedTagIds, const Toggle &toggle, QWidget *parent,
                      const QPoint &globalPosition);
};
