#pragma once
// Styled text from a small inline markup: outline titles and highlighted values are plain
// strings with tags that switch the colour ("[c:Green]", "[c:]" back to the default), the font
// ("[F:systemFontOfSize:weight:|11|0]", "[F:]" back to the default) or insert a symbol image
// ("[s:name]"). Colour and font are two independent states, each covering the text from its
// tag up to the next tag of the same kind. A "[" that starts no known tag stays as text.
//
// The result is a string with per-character colour and font (each may be absent, meaning the
// view's default) and image attachments, and can draw itself on one line, cut with an ellipsis.

#include <QColor>
#include <QFont>
#include <QHash>
#include <QIcon>
#include <QString>
#include <optional>
#include <vector>

class QPainter;
class QRectF;

// Attributes of appended text: the base style of a conversion, or what hvxAdd is given.
struct HVXTextAttributes
{
    std::optional<QColor> color;
    std::optional<QFont> font;
    // Cut the text at the end with an ellipsis when it does not fit (the outline's titles).
    bool truncatesTail = false;
};

class HVXAttributedString
{
public:
    struct Run
    {
        int start = 0;
        int length = 0;
        std::optional<QColor> color;
        std::optional<QFont> font;
        bool isAttachment = false;
        QIcon image;
    };

    const QString &string() const { return m_text; }
    int length() const { return int(m_text.size()); }
    bool truncatesTail() const { return m_truncatesTail; }
    void setTruncatesTail(bool truncates) { m_truncatesTail = truncates; }

    // Appends the text with exactly these attributes.
    void hvxAddAttributes(const QString &text, const HVXTextAttributes &attributes);
    // Appends the text with the attributes in force at the end.
    void add(const QString &text);
    // One attachment character showing the symbol, tinted when a colour is given.
    void hvxAppendSymbolNamed(const QString &name, const std::optional<QColor> &color = std::nullopt);

    // Sets (or, with nothing, removes) the colour or font of the characters [start, end).
    void setColor(int start, int end, const std::optional<QColor> &color);
    void setFont(int start, int end, const std::optional<QFont> &font);

    std::optional<QColor> colorAt(int index) const;
    std::optional<QFont> fontAt(int index) const;
    bool isAttachmentAt(int index) const { return m_attachments.contains(index); }

    // Maximal stretches of equal attributes, in order.
    std::vector<Run> runs() const;

    // Width of the whole text on one line, with the view's defaults for absent attributes.
    qreal width(const QFont &defaultFont) const;
    // Draws the text on one line, vertically centred in the rectangle; absent attributes take the
    // defaults. Text beyond the right edge is cut with an ellipsis.
    void draw(QPainter *painter, const QRectF &rect, const QFont &defaultFont, const QColor &defaultColor) const;

private:
    template <class T> static int indexOf(std::vector<T> &table, const T &value);

    QString m_text;
    // Per UTF-16 unit: index into the colour or font table, -1 for none.
    std::vector<int> m_colorIndex;
    std::vector<int> m_fontIndex;
    std::vector<QColor> m_colors;
    std::vector<QFont> m_fonts;
    QHash<int, QIcon> m_attachments;
    bool m_truncatesTail = false;
};

// The markup as styled text with the outline's base style (truncate at the tail).
HVXAttributedString hvxAttributedString(const QString &markup);
// The markup as styled text with an empty base style.
HVXAttributedString hvxAttributedStringNoClip(const QString &markup);
HVXAttributedString hvxAttributedStringWithStyle(const QString &markup, const HVXTextAttributes &style);
inline HVXAttributedString hvxAttribuedStringWithStyle(const QString &markup, const HVXTextAttributes &style)
{
    return hvxAttributedStringWithStyle(markup, style);
}

// The desktop theme's icon of that name, else the application's image resource ":/images/<name>";
// a null icon when neither exists.
QIcon hvxSymbol(const QString &name);
// The icon re-drawn in one colour (its shape kept); the icon itself without a colour.
QIcon hvxIconWithColor(const QIcon &icon, const std::optional<QColor> &color);
