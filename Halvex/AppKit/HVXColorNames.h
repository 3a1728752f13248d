#pragma once
// Colours by name for styled-text markup and the views: "#rrggbb[aa]" hex, the desktop's
// semantic colours as "NSColor:<name>" (taken from the application palette, so they follow
// light and dark mode), and the CSS / X11 colour names ("Green", "AliceBlue", ...). Also the
// 18-colour high-contrast palette and upper-case hex forms of a colour.

#include "Halvex/Foundation/HVXColor.h"

#include <QColor>
#include <QList>
#include <QString>
#include <optional>

// The colour for a name: hex first, then "NSColor:" semantic colours (opaque red and an error
// line for an unknown one), then the named table (nothing and a warning for an unknown name).
std::optional<QColor> hvxColorNamed(const QString &name);

// "#rrggbb" or "#rrggbbaa" exactly (7 or 9 characters); nothing otherwise.
std::optional<QColor> hvxColorFromHex(const QString &text);

// A semantic desktop colour by its name without prefix ("secondaryLabelColor", "systemBlue").
std::optional<QColor> hvxSystemColorNamed(const QString &name);

// The CSS colour table, keyed as the common HTML colour list spells the names.
const QList<QPair<QString, QString>> &hvxNamedColorTable();

const QList<QColor> &hvxHighContrastColors();
QColor hvxHighContrastColorForInt(quint64 n);

// Six or eight upper-case hex digits, each channel multiplied by 255 and truncated.
QString hvxRgbHexString(const QColor &color);
QString hvxRgbaHexString(const QColor &color);

// Between the model's plain colour value and Qt's.
QColor hvxQColor(const HVXColor &color);
HVXColor hvxColorValue(const QColor &color);
