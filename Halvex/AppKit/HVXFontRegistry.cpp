#include "HVXFontRegistry.h"

#include <QFontDatabase>
#include <cmath>

namespace {

QFont sized(QFont font, double size)
{
    if (size > 0)
        font.setPixelSize(int(std::lround(size)));
    return font;
}

} // namespace

bool HVXFontRegistry::knowsSelector(const QString &selector)
{
    return selector == QLatin1String("systemFontOfSize:weight:")
           || selector == QLatin1String("monospacedSystemFontOfSize:weight:")
           || selector == QLatin1String("systemFontOfSize:");
}

QFont::Weight HVXFontRegistry::qtWeight(double weight)
{
    // The usual named weights on the -1 to 1 scale, and the nearest Qt weight at or below.
    struct Step
    {
        double from;
        QFont::Weight weight;
    };
    static constexpr Step steps[] = {
        {0.62, QFont::Black},  {0.56, QFont::ExtraBold}, {0.4, QFont::Bold},
        {0.3, QFont::DemiBold}, {0.23, QFont::Medium},   {-0.2, QFont::Normal},
        {-0.4, QFont::Light},  {-0.6, QFont::ExtraLight},
    };
    for (const Step &step : steps)
        if (weight >= step.from - 1e-9)
            return step.weight;
    return QFont::Thin;
}

std::optional<QFont> HVXFontRegistry::fontForSelector(const QString &selector, const QList<double> &arguments)
{
    const double size = arguments.value(0, 0.0);
    const double weight = arguments.value(1, 0.0);
    if (selector == QLatin1String("systemFontOfSize:")) {
        return sized(QFontDatabase::systemFont(QFontDatabase::GeneralFont), size);
    }
    if (selector == QLatin1String("systemFontOfSize:weight:")) {
        QFont font = sized(QFontDatabase::systemFont(QFontDatabase::GeneralFont), size);
        font.setWeight(qtWeight(weight));
        return font;
    }
    if (selector == QLatin1String("monospacedSystemFontOfSize:weight:")) {
        QFont font = sized(QFontDatabase::systemFont(QFontDatabase::FixedFont), size);
        font.setWeight(qtWeight(weight));
        return font;
    }
    return std::nullopt;
}
