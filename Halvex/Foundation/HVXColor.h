#pragma once
// A colour as plain RGBA components (0 to 1), so that the model can name colours without
// linking the GUI library. The widgets toolkit turns it into a QColor.

#include <QString>
#include <optional>

struct HVXColor
{
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double alpha = 1.0;

    static HVXColor fromRgb(double r, double g, double b, double a = 1.0) { return {r, g, b, a}; }
    static HVXColor fromWhite(double white, double a = 1.0) { return {white, white, white, a}; }

    // "#rrggbb", or "#rrggbbaa" when the colour is not opaque.
    QString hexString() const;
    // Six or eight hex digits with or without "#"; nothing for fewer than six.
    static std::optional<HVXColor> fromHexString(const QString &text);

    bool operator==(const HVXColor &other) const = default;
};

// The named system colours, fixed values that are the same on every platform.
namespace HVXSystemColor {
HVXColor blue();
HVXColor yellow();
HVXColor purple();
HVXColor red();
HVXColor pink();
HVXColor orange();
HVXColor green();
HVXColor gray();
HVXColor brown();
HVXColor black();
HVXColor white();
// Looks a colour up by its lower-case name ("blue", "systemBlue" and "Blue" all work).
std::optional<HVXColor> named(const QString &name);
} // namespace HVXSystemColor
