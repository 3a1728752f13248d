#pragma once
// The user's tag palette: a short fixed list of named, coloured tags (ids 1 to 9) that can be put
// on any message. The palette is global to the user and kept in the "TVLTags" setting as JSON
// text, a list of {"tagId", "name", "color"} with colours as "#rrggbb". Tags are combined into
// 16-bit masks (bit n for tag id n, bit 0 for an annotation) for summaries and filtering.

#include "Halvex/Foundation/HVXColor.h"

#include <QList>
#include <QString>
#include <optional>

class TVLTag
{
public:
    TVLTag(quint64 tagId, const QString &name, const HVXColor &color);
    virtual ~TVLTag() = default;
    TVLTag(const TVLTag &) = delete;
    TVLTag &operator=(const TVLTag &) = delete;

    quint64 tagId() const { return m_tagId; }
    QString name() const { return m_name; }
    HVXColor color() const { return m_color; }

    // Palette edits: store, save the whole palette, post "TVLTagsDidChangeNotification".
    // Colours are kept opaque and rounded to 8 bits per channel, as the setting stores them.
    void setName(const QString &name);
    void setColor(const HVXColor &color);

    HVXColor contrastingTextColor() const { return contrastingTextColorForColor(m_color); }
    virtual bool isRemovable() const { return true; }

    // The palette. The first use registers the built-in palette as the default of "TVLTags"
    // and loads the setting. The tags stay alive for the whole run, also after a reload.
    static void registerDefaults();
    static void loadTags();
    static void saveTags();
    static const QList<TVLTag *> &allTags();
    // The palette entry at position id - 1 for ids 1 to 9; nullptr otherwise.
    static TVLTag *tagWithId(quint64 tagId);
    static std::optional<HVXColor> colorForTagId(quint64 tagId);
    // 1 << id below 16, else 0.
    static quint16 bitMaskForTagId(quint64 tagId);
    // Black or white, whichever reads better on the colour (relative luminance above 0.4: black).
    static HVXColor contrastingTextColorForColor(const HVXColor &color);

    // The settings encoding of a palette, and back; nothing when the text is not such a list.
    static QString encodeTags(const QList<TVLTag *> &tags);
    static std::optional<QList<TVLTag *>> decodeTags(const QString &text);

private:
    quint64 m_tagId;
    QString m_name;
    HVXColor m_color;
};
