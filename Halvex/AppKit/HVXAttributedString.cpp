#include "HVXAttributedString.h"

#include "HVXColorNames.h"
#include "HVXFontRegistry.h"

#include "Halvex/Foundation/HVXLog.h"

#include <QFile>
#include <QFontMetricsF>
#include <QPainter>
#include <QPixmap>
#include <QRectF>
#include <cstdlib>

namespace {

constexpr QChar kAttachmentCharacter(0xFFFC);

// The number at the start of the text ("13.0", " 2", "-0.4px"); 0.0 when there is none.
double leadingNumber(const QString &text)
{
    const QByteArray latin = text.trimmed().toLatin1();
    return std::strtod(latin.constData(), nullptr);
}

} // namespace

template <class T> int HVXAttributedString::indexOf(std::vector<T> &table, const T &value)
{
    for (size_t i = 0; i < table.size(); ++i)
        if (table[i] == value)
            return int(i);
    table.push_back(value);
    return int(table.size() - 1);
}

void HVXAttributedString::hvxAddAttributes(const QString &text, const HVXTextAttributes &attributes)
{
    if (text.isEmpty())
        return;
    const int color = attributes.color ? indexOf(m_colors, *attributes.color) : -1;
    const int font = attributes.font ? indexOf(m_fonts, *attributes.font) : -1;
    m_text += text;
    m_colorIndex.insert(m_colorIndex.end(), size_t(text.size()), color);
    m_fontIndex.insert(m_fontIndex.end(), size_t(text.size()), font);
}

void HVXAttributedString::add(const QString &text)
{
    HVXTextAttributes attributes;
    if (!m_text.isEmpty()) {
        attributes.color = colorAt(length() - 1);
        attributes.font = fontAt(length() - 1);
    }
    hvxAddAttributes(text, attributes);
}

void HVXAttributedString::hvxAppendSymbolNamed(const QString &name, const std::optional<QColor> &color)
{
    const int position = length();
    m_text += kAttachmentCharacter;
    m_colorIndex.push_back(-1);
    m_fontIndex.push_back(-1);
    m_attachments.insert(position, hvxIconWithColor(hvxSymbol(name), color));
}

void HVXAttributedString::setColor(int start, int end, const std::optional<QColor> &color)
{
    const int index = color ? indexOf(m_colors, *color) : -1;
    for (int i = qMax(0, start); i < qMin(end, length()); ++i)
        m_colorIndex[size_t(i)] = index;
}

void HVXAttributedString::setFont(int start, int end, const std::optional<QFont> &font)
{
    const int index = font ? indexOf(m_fonts, *font) : -1;
    for (int i = qMax(0, start); i < qMin(end, length()); ++i)
        m_fontIndex[size_t(i)] = index;
}

std::optional<QColor> HVXAttributedString::colorAt(int index) const
{
    if (index < 0 || index >= length() || m_colorIndex[size_t(index)] < 0)
        return std::nullopt;
    return m_colors[size_t(m_colorIndex[size_t(index)])];
}

std::optional<QFont> HVXAttributedString::fontAt(int index) const
{
    if (index < 0 || index >= length() || m_fontIndex[size_t(index)] < 0)
        return std::nullopt;
    return m_fonts[size_t(m_fontIndex[size_t(index)])];
}

std::vector<HVXAttributedString::Run> HVXAttributedString::runs() const
{
    std::vector<Run> result;
    int start = 0;
    while (start < length()) {
        Run run;
        run.start = start;
        run.color = colorAt(start);
        run.font = fontAt(start);
        if (m_attachments.contains(start)) {
            run.isAttachment = true;
            run.image = m_attachments.value(start);
            run.length = 1;
        } else {
            int end = start + 1;
            while (end < length() && !m_attachments.contains(end) && m_colorIndex[size_t(end)] == m_colorIndex[size_t(start)]
                   && m_fontIndex[size_t(end)] == m_fontIndex[size_t(start)])
                ++end;
            run.length = end - start;
        }
        result.push_back(run);
        start += run.length;
    }
    return result;
}

qreal HVXAttributedString::width(const QFont &defaultFont) const
{
    qreal total = 0;
    for (const Run &run : runs()) {
        const QFontMetricsF metrics(run.font.value_or(defaultFont));
        total += run.isAttachment ? metrics.height() : metrics.horizontalAdvance(m_text.mid(run.start, run.length));
    }
    return total;
}

void HVXAttributedString::draw(QPainter *painter, const QRectF &rect, const QFont &defaultFont,
                               const QColor &defaultColor) const
{
    const std::vector<Run> parts = runs();
    // One baseline for all runs: the tallest font decides it.
    qreal ascent = QFontMetricsF(defaultFont).ascent();
    qreal descent = QFontMetricsF(defaultFont).descent();
    for (const Run &run : parts) {
        const QFontMetricsF metrics(run.font.value_or(defaultFont));
        ascent = qMax(ascent, metrics.ascent());
        descent = qMax(descent, metrics.descent());
    }
    const qreal baseline = rect.top() + (rect.height() - ascent - descent) / 2 + ascent;

    painter->save();
    painter->setClipRect(rect, Qt::IntersectClip);
    qreal x = rect.left();
    for (const Run &run : parts) {
        const QFont font = run.font.value_or(defaultFont);
        const QFontMetricsF metrics(font);
        const qreal room = rect.right() - x;
        if (room <= 0)
            break;
        if (run.isAttachment) {
            const qreal side = metrics.height();
            if (!run.image.isNull())
                run.image.paint(painter, QRect(int(x), int(baseline - metrics.ascent()), int(side), int(side)));
            x += side;
            continue;
        }
        QString text = m_text.mid(run.start, run.length);
        const qreal advance = metrics.horizontalAdvance(text);
        const bool cut = advance > room;
        if (cut)
            text = metrics.elidedText(text, Qt::ElideRight, room);
        painter->setFont(font);
        painter->setPen(run.color.value_or(defaultColor));
        painter->drawText(QPointF(x, baseline), text);
        if (cut)
            break;
        x += advance;
    }
    painter->restore();
}

// MARK: - Markup

HVXAttributedString hvxAttributedStringWithStyle(const QString &markup, const HVXTextAttributes &style)
{
    HVXAttributedString result;
    result.setTruncatesTail(style.truncatesTail);
    std::optional<QColor> currentColor = style.color;
    std::optional<QFont> currentFont = style.font;
    int colorStart = 0;
    int fontStart = 0;

    const QStringList pieces = markup.split(QLatin1Char('['));
    result.hvxAddAttributes(pieces.first(), style);
    for (qsizetype p = 1; p < pieces.size(); ++p) {
        const QString &piece = pieces.at(p);
        const qsizetype close = piece.indexOf(QLatin1Char(']'));
        if (close < 0) {
            result.hvxAddAttributes(QStringLiteral("[") + piece, style);
            continue;
        }
        const QString tag = piece.left(close);
        const QString tail = piece.mid(close + 1);
        const QString kind = tag.left(2);
        if (kind == QLatin1String("c:")) {
            result.setColor(colorStart, result.length(), currentColor);
            const QString name = tag.mid(2);
            currentColor = name.isEmpty() ? style.color : hvxColorNamed(name);
            colorStart = result.length();
        } else if (kind == QLatin1String("F:")) {
            result.setFont(fontStart, result.length(), currentFont);
            const QString definition = tag.mid(2);
            const QStringList parts = definition.split(QLatin1Char('|'));
            if (definition.isEmpty()) {
                currentFont = style.font;
            } else if (parts.size() > 3 || !HVXFontRegistry::knowsSelector(parts.first())) {
                HVXLogError(QStringLiteral("NSFont selector for font definition '%1' not found!").arg(definition));
                currentFont.reset();
            } else if (parts.size() > 1) {
                QList<double> numbers;
                for (qsizetype i = 1; i < parts.size(); ++i)
                    numbers << leadingNumber(parts.at(i));
                currentFont = HVXFontRegistry::fontForSelector(parts.first(), numbers);
            }
            fontStart = result.length();
        } else if (kind == QLatin1String("s:")) {
            result.hvxAppendSymbolNamed(tag.mid(2));
        } else {
            result.hvxAddAttributes(QStringLiteral("[") + piece, style);
            continue;
        }
        result.hvxAddAttributes(tail, style);
    }
    result.setColor(colorStart, result.length(), currentColor);
    result.setFont(fontStart, result.length(), currentFont);
    return result;
}

HVXAttributedString hvxAttributedString(const QString &markup)
{
    HVXTextAttributes style;
    style.truncatesTail = true;
    return hvxAttributedStringWithStyle(markup, style);
}

HVXAttributedString hvxAttributedStringNoClip(const QString &markup)
{
    return hvxAttributedStringWithStyle(markup, {});
}

// MARK: - Symbols

QIcon hvxSymbol(const QString &name)
{
    if (name.isEmpty())
        return {};
    if (QIcon::hasThemeIcon(name))
        return QIcon::fromTheme(name);
    for (const QString &candidate : {QStringLiteral(":/images/%1.svg"), QStringLiteral(":/images/%1.png")})
        if (QFile::exists(candidate.arg(name)))
            return QIcon(candidate.arg(name));
    return {};
}

QIcon hvxIconWithColor(const QIcon &icon, const std::optional<QColor> &color)
{
    if (!color || icon.isNull())
        return icon;
    QPixmap pixmap = icon.pixmap(64, 64);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), *color);
    painter.end();
    return QIcon(pixmap);
}
