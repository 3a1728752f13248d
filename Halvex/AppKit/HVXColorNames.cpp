#include "HVXColorNames.h"

#include "Halvex/Foundation/HVXLog.h"

#include <QGuiApplication>
#include <QHash>
#include <QPalette>

namespace {

// Two characters at `index`, read as hex up to the first non-hex character; nothing read is 0.
double hexComponent(const QString &text, int index)
{
    int value = 0;
    for (int i = index; i < index + 2 && i < text.size(); ++i) {
        const int digit = (text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9')) ? text.at(i).unicode() - '0'
                          : (text.at(i) >= QLatin1Char('a') && text.at(i) <= QLatin1Char('f'))
                              ? text.at(i).unicode() - 'a' + 10
                          : (text.at(i) >= QLatin1Char('A') && text.at(i) <= QLatin1Char('F'))
                              ? text.at(i).unicode() - 'A' + 10
                              : -1;
        if (digit < 0)
            break;
        value = value * 16 + digit;
    }
    return value / 255.0;
}

QColor opaqueFromHex(const QString &hex)
{
    return QColor::fromRgbF(float(hexComponent(hex, 1)), float(hexComponent(hex, 3)), float(hexComponent(hex, 5)), 1.0f);
}

const QHash<QString, QColor> &namedColors()
{
    static const QHash<QString, QColor> colors = [] {
        QHash<QString, QColor> table;
        for (const auto &[name, hex] : hvxNamedColorTable())
            table.insert(name, opaqueFromHex(hex));
        return table;
    }();
    return colors;
}

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

// Truncates toward zero in integers: a channel of c/255 gives c back, and 0.5 gives 127.
int channel255(quint16 component16) { return int(quint32(component16) * 255u / 65535u); }

} // namespace

const QList<QPair<QString, QString>> &hvxNamedColorTable()
{
    static const QList<QPair<QString, QString>> table = {
        {"AliceBlue", "#F0F8FF"}, {"AntiqueWhite", "#FAEBD7"}, {"Aqua", "#00FFFF"}, {"Aquamarine", "#7FFFD4"},
        {"Azure", "#F0FFFF"}, {"Beige", "#F5F5DC"}, {"Bisque", "#FFE4C4"}, {"Black", "#000000"},
        {"BlanchedAlmond", "#FFEBCD"}, {"Blue", "#0000FF"}, {"BlueViolet", "#8A2BE2"}, {"Brown", "#A52A2A"},
        {"BurlyWood", "#DEB887"}, {"CadetBlue", "#5F9EA0"}, {"Chartreuse", "#7FFF00"}, {"Chocolate", "#D2691E"},
        {"Coral", "#FF7F50"}, {"CornflowerBlue", "#6495ED"}, {"Cornsilk", "#FFF8DC"}, {"Crimson", "#DC143C"},
        {"Cyan", "#00FFFF"}, {"DarkBlue", "#00008B"}, {"DarkCyan", "#008B8B"}, {"DarkGoldenRod", "#B8860B"},
        {"DarkGray", "#A9A9A9"}, {"DarkGreen", "#006400"}, {"DarkKhaki", "#BDB76B"}, {"DarkMagenta", "#8B008B"},
        {"DarkOliveGreen", "#556B2F"}, {"DarkOrange", "#FF8C00"}, {"DarkOrchid", "#9932CC"}, {"DarkRed", "#8B0000"},
        {"DarkSalmon", "#E9967A"}, {"DarkSeaGreen", "#8FBC8F"}, {"DarkSlateBlue", "#483D8B"},
        {"DarkSlateGray", "#2F4F4F"}, {"DarkTurquoise", "#00CED1"}, {"DarkViolet", "#9400D3"},
        {"DeepPink", "#FF1493"}, {"DeepSkyBlue", "#00BFFF"}, {"DimGray", "#696969"}, {"DodgerBlue", "#1E90FF"},
        {"FireBrick", "#B22222"}, {"FloralWhite", "#FFFAF0"}, {"ForestGreen", "#228B22"}, {"Fuchsia", "#FF00FF"},
        {"Gainsboro", "#DCDCDC"}, {"GhostWhite", "#F8F8FF"}, {"Gold", "#FFD700"}, {"GoldenRod", "#DAA520"},
        {"Gray", "#808080"}, {"Green", "#008000"}, {"GreenYellow", "#ADFF2F"}, {"HoneyDew", "#F0FFF0"},
        {"HotPink", "#FF69B4"}, {"IndianRed", "#CD5C5C"}, {"Indigo", "#4B0082"}, {"Ivory", "#FFFFF0"},
        {"Khaki", "#F0E68C"}, {"Lavender", "#E6E6FA"}, {"LavenderBlush", "#FFF0F5"}, {"LawnGreen", "#7CFC00"},
        {"LemonChiffon", "#FFFACD"}, {"LightBlue", "#ADD8E6"}, {"LightCoral", "#F08080"}, {"LightCyan", "#E0FFFF"},
        {"LightGoldenRodYellow", "#FAFAD2"}, {"LightGray", "#D3D3D3"}, {"LightGreen", "#90EE90"},
        {"LightPink", "#FFB6C1"}, {"LightSalmon", "#FFA07A"}, {"LightSeaGreen", "#20B2AA"},
        {"LightSkyBlue", "#87CEFA"}, {"LightSlateGray", "#778899"}, {"LightSteelBlue", "#B0C4DE"},
        {"LightYellow", "#FFFFE0"}, {"Lime", "#00FF00"}, {"LimeGreen", "#32CD32"}, {"Linen", "#FAF0E6"},
        {"Magenta", "#FF00FF"}, {"Maroon", "#800000"}, {"MediumAquaMarine", "#66CDAA"}, {"MediumBlue", "#0000CD"},
        {"MediumOrchid", "#BA55D3"}, {"MediumPurple", "#9370DB"}, {"MediumSeaGreen", "#3CB371"},
        {"MediumSlateBlue", "#7B68EE"}, {"MediumSpringGreen", "#00FA9A"}, {"MediumTurquoise", "#48D1CC"},
        {"MediumVioletRed", "#C71585"}, {"MidnightBlue", "#191970"}, {"MintCream", "#F5FFFA"},
        {"MistyRose", "#FFE4E1"}, {"Moccasin", "#FFE4B5"}, {"NavajoWhite", "#FFDEAD"}, {"Navy", "#000080"},
        {"OldLace", "#FDF5E6"}, {"Olive", "#808000"}, {"OliveDrab", "#6B8E23"}, {"Orange", "#FFA500"},
        {"OrangeRed", "#FF4500"}, {"Orchid", "#DA70D6"}, {"PaleGoldenRod", "#EEE8AA"}, {"PaleGreen", "#98FB98"},
        {"PaleTurquoise", "#AFEEEE"}, {"PaleVioletRed", "#DB7093"}, {"PapayaWhip", "#FFEFD5"},
        {"PeachPuff", "#FFDAB9"}, {"Peru", "#CD853F"}, {"Pink", "#FFC0CB"}, {"Plum", "#DDA0DD"},
        {"PowderBlue", "#B0E0E6"}, {"Purple", "#800080"}, {"Red", "#FF0000"}, {"RosyBrown", "#BC8F8F"},
        {"RoyalBlue", "#4169E1"}, {"SaddleBrown", "#8B4513"}, {"Salmon", "#FA8072"}, {"SandyBrown", "#F4A460"},
        {"SeaGreen", "#2E8B57"}, {"SeaShell", "#FFF5EE"}, {"Sienna", "#A0522D"}, {"Silver", "#C0C0C0"},
        {"SkyBlue", "#87CEEB"}, {"SlateBlue", "#6A5ACD"}, {"SlateGray", "#708090"}, {"Snow", "#FFFAFA"},
        {"SpringGreen", "#00FF7F"}, {"SteelBlue", "#4682B4"}, {"Tan", "#D2B48C"}, {"Teal", "#008080"},
        {"Thistle", "#D8BFD8"}, {"Tomato", "#FF6347"}, {"Turquoise", "#40E0D0"}, {"Violet", "#EE82EE"},
        {"Wheat", "#F5DEB3"}, {"White", "#FFFFFF"}, {"WhiteSmoke", "#F5F5F5"}, {"Yellow", "#FFFF00"},
        {"YellowGreen", "#9ACD32"},
    };
    return table;
}

std::optional<QColor> hvxColorFromHex(const QString &text)
{
    if (!text.startsWith(QLatin1Char('#')) || (text.size() != 7 && text.size() != 9))
        return std::nullopt;
    const double alpha = text.size() == 9 ? hexComponent(text, 7) : 1.0;
    QColor color = QColor::fromRgbF(float(hexComponent(text, 1)), float(hexComponent(text, 3)),
                                    float(hexComponent(text, 5)), float(alpha));
    return color;
}

std::optional<QColor> hvxSystemColorNamed(const QString &name)
{
    const QPalette palette = QGuiApplication::palette();
    const QColor text = palette.color(QPalette::Text);
    const QColor windowText = palette.color(QPalette::WindowText);
    // The label colours are the text colour at falling strengths, as on desktops that have them.
    if (name == QLatin1String("labelColor") || name == QLatin1String("controlTextColor"))
        return windowText;
    if (name == QLatin1String("textColor"))
        return text;
    if (name == QLatin1String("secondaryLabelColor"))
        return withAlpha(windowText, 0.55);
    if (name == QLatin1String("tertiaryLabelColor"))
        return withAlpha(windowText, 0.3);
    if (name == QLatin1String("quaternaryLabelColor"))
        return withAlpha(windowText, 0.15);
    if (name == QLatin1String("placeholderTextColor"))
        return palette.color(QPalette::PlaceholderText);
    if (name == QLatin1String("textBackgroundColor") || name == QLatin1String("controlBackgroundColor"))
        return palette.color(QPalette::Base);
    if (name == QLatin1String("windowBackgroundColor"))
        return palette.color(QPalette::Window);
    if (name == QLatin1String("selectedTextBackgroundColor") || name == QLatin1String("controlAccentColor")
        || name == QLatin1String("selectedContentBackgroundColor"))
        return palette.color(QPalette::Highlight);
    if (name == QLatin1String("selectedTextColor") || name == QLatin1String("alternateSelectedControlTextColor"))
        return palette.color(QPalette::HighlightedText);
    if (name == QLatin1String("linkColor"))
        return palette.color(QPalette::Link);
    if (name == QLatin1String("separatorColor") || name == QLatin1String("gridColor"))
        return withAlpha(windowText, 0.1);
    // systemBlue, systemRed, ... and the plain names blueColor, redColor, ...
    QString plain = name;
    if (plain.startsWith(QLatin1String("system")) && plain.size() > 6)
        plain = plain.mid(6);
    if (plain.endsWith(QLatin1String("Color")))
        plain.chop(5);
    if (const auto fixed = HVXSystemColor::named(plain.toLower()))
        return hvxQColor(*fixed);
    return std::nullopt;
}

std::optional<QColor> hvxColorNamed(const QString &name)
{
    if (auto hex = hvxColorFromHex(name))
        return hex;
    static const QString systemPrefix = QStringLiteral("NSColor:");
    if (name.startsWith(systemPrefix)) {
        if (auto system = hvxSystemColorNamed(name.mid(systemPrefix.size())))
            return system;
        HVXLogError(QStringLiteral("Can't find color for '%1'").arg(name));
        return QColor::fromRgbF(1, 0, 0, 1);
    }
    const auto found = namedColors().constFind(name);
    if (found != namedColors().constEnd())
        return *found;
    HVXLogWarning(QStringLiteral("Unknown color requested: %1").arg(name));
    return std::nullopt;
}

const QList<QColor> &hvxHighContrastColors()
{
    static const QList<QColor> palette = [] {
        QList<QColor> colors;
        for (const char *hex : {"#e6194b", "#3cb44b", "#ffe119", "#0082c8", "#f58231", "#911eb4", "#46f0f0", "#f032e6",
                                "#d2f53c", "#fabebe", "#008080", "#aa6e28", "#fffac8", "#aaffc3", "#808000", "#ffd8b1",
                                "#000080", "#808080"})
            colors << opaqueFromHex(QString::fromLatin1(hex));
        return colors;
    }();
    return palette;
}

QColor hvxHighContrastColorForInt(quint64 n)
{
    const QList<QColor> &colors = hvxHighContrastColors();
    return colors.at(int(n % quint64(colors.size())));
}

QString hvxRgbHexString(const QColor &color)
{
    const QRgba64 rgb = color.toRgb().rgba64();
    return QStringLiteral("%1%2%3")
        .arg(channel255(rgb.red()), 2, 16, QLatin1Char('0'))
        .arg(channel255(rgb.green()), 2, 16, QLatin1Char('0'))
        .arg(channel255(rgb.blue()), 2, 16, QLatin1Char('0'))
        .toUpper();
}

QString hvxRgbaHexString(const QColor &color)
{
    return hvxRgbHexString(color)
           + QStringLiteral("%1").arg(channel255(color.toRgb().rgba64().alpha()), 2, 16, QLatin1Char('0')).toUpper();
}

QColor hvxQColor(const HVXColor &color)
{
    return QColor::fromRgbF(float(color.red), float(color.green), float(color.blue), float(color.alpha));
}

HVXColor hvxColorValue(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return HVXColor::fromRgb(rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF());
}
