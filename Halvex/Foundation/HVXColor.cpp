#include "HVXColor.h"

#include <QHash>
#include <cmath>

namespace {
int toByte(double component) { return int(std::lround(std::clamp(component, 0.0, 1.0) * 255.0)); }

HVXColor fromBytes(int r, int g, int b) { return HVXColor::fromRgb(r / 255.0, g / 255.0, b / 255.0); }
} // namespace

QString HVXColor::hexString() const
{
    QString text = QStringLiteral("#%1%2%3")
                       .arg(toByte(red), 2, 16, QLatin1Char('0'))
                       .arg(toByte(green), 2, 16, QLatin1Char('0'))
                       .arg(toByte(blue), 2, 16, QLatin1Char('0'));
    if (toByte(alpha) != 255)
        text += QStringLiteral("%1").arg(toByte(alpha), 2, 16, QLatin1Char('0'));
    return text;
}

std::optional<HVXColor> HVXColor::fromHexString(const QString &text)
{
    QString digits = text.trimmed();
    if (digits.startsWith(QLatin1Char('#')))
        digits.remove(0, 1);
    if (digits.size() < 6)
        return std::nullopt;
    auto pair = [&](int index) -> std::optional<double> {
        bool ok = false;
        const int value = digits.mid(index * 2, 2).toInt(&ok, 16);
        if (!ok)
            return std::nullopt;
        return value / 255.0;
    };
    const auto r = pair(0), g = pair(1), b = pair(2);
    if (!r || !g || !b)
        return std::nullopt;
    double a = 1.0;
    if (digits.size() >= 8) {
        const auto parsedAlpha = pair(3);
        if (!parsedAlpha)
            return std::nullopt;
        a = *parsedAlpha;
    }
    return HVXColor::fromRgb(*r, *g, *b, a);
}

// Values of the light-appearance system palette of the platform the program first ran on.
namespace HVXSystemColor {
HVXColor blue() { return fromBytes(0, 122, 255); }
HVXColor yellow() { return fromBytes(255, 204, 0); }
HVXColor purple() { return fromBytes(175, 82, 222); }
HVXColor red() { return fromBytes(255, 59, 48); }
HVXColor pink() { return fromBytes(255, 45, 85); }
HVXColor orange() { return fromBytes(255, 149, 0); }
HVXColor green() { return fromBytes(40, 205, 65); }
HVXColor gray() { return fromBytes(142, 142, 147); }
HVXColor brown() { return fromBytes(162, 132, 94); }
HVXColor black() { return HVXColor::fromWhite(0.0); }
HVXColor white() { return HVXColor::fromWhite(1.0); }

std::optional<HVXColor> named(const QString &name)
{
    static const QHash<QString, HVXColor (*)()> table = {
        {QStringLiteral("blue"), &blue},     {QStringLiteral("yellow"), &yellow},
        {QStringLiteral("purple"), &purple}, {QStringLiteral("red"), &red},
        {QStringLiteral("pink"), &pink},     {QStringLiteral("orange"), &orange},
        {QStringLiteral("green"), &green},   {QStringLiteral("gray"), &gray},
        {QStringLiteral("grey"), &gray},     {QStringLiteral("brown"), &brown},
        {QStringLiteral("black"), &black},   {QStringLiteral("white"), &white},
    };
    QString key = name.trimmed().toLower();
    if (key.startsWith(QLatin1String("system")))
        key = key.mid(6);
    if (key.endsWith(QLatin1String("color")))
        key.chop(5);
    const auto it = table.find(key);
    if (it == table.end())
        return std::nullopt;
    return it.value()();
}
} // namespace HVXSystemColor
