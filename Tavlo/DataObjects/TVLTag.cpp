#include "TVLTag.h"

#include "TVLSettings.h"
#include "Halvex/Foundation/HVXLog.h"
#include "TVLChangeHub.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <memory>
#include <vector>

namespace {
struct Palette
{
    QList<TVLTag *> tags;
    // Every tag ever made for the palette. Callers keep plain pointers to tags, so a reload
    // retires the old objects instead of deleting them.
    std::vector<std::unique_ptr<TVLTag>> owned;
    bool loaded = false;
};

Palette &palette()
{
    static Palette instance;
    return instance;
}

void ensureLoaded()
{
    if (!palette().loaded) {
        palette().loaded = true;
        TVLTag::registerDefaults();
        TVLTag::loadTags();
    }
}

QList<TVLTag *> builtInPalette()
{
    struct Entry { const char *name; HVXColor color; };
    const Entry entries[] = {
        {"Reference", HVXSystemColor::blue()},   {"Idea", HVXSystemColor::yellow()},
        {"Question", HVXSystemColor::purple()},  {"Important", HVXSystemColor::red()},
        {"Bug", HVXSystemColor::pink()},         {"To Do", HVXSystemColor::orange()},
        {"Custom 1", HVXSystemColor::green()},   {"Custom 2", HVXSystemColor::green()},
        {"Custom 3", HVXSystemColor::green()},
    };
    QList<TVLTag *> tags;
    quint64 tagId = 1;
    for (const Entry &entry : entries) {
        auto tag = std::make_unique<TVLTag>(tagId++, QString::fromLatin1(entry.name), entry.color);
        tags.append(tag.get());
        palette().owned.push_back(std::move(tag));
    }
    return tags;
}

// The colour as the setting keeps it, "#rrggbb": opaque, 8 bits per channel. Tags hold only
// such colours, so a palette read back after a restart equals the one saved.
HVXColor storableColor(HVXColor color)
{
    color.alpha = 1.0;
    return HVXColor::fromHexString(color.hexString()).value_or(HVXSystemColor::black());
}

double linearComponent(double x)
{
    return x <= 0.03928 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
}
} // namespace

TVLTag::TVLTag(quint64 tagId, const QString &name, const HVXColor &color)
    : m_tagId(tagId), m_name(name), m_color(storableColor(color))
{
}

void TVLTag::setName(const QString &name)
{
    m_name = name;
    saveTags();
    Q_EMIT TVLChangeHub::shared().tagsDidChange();
}

void TVLTag::setColor(const HVXColor &color)
{
    m_color = storableColor(color);
    saveTags();
    Q_EMIT TVLChangeHub::shared().tagsDidChange();
}

void TVLTag::registerDefaults()
{
    TVLSettings::registerTagsDefault(encodeTags(builtInPalette()));
}

void TVLTag::loadTags()
{
    palette().loaded = true;
    const QString text = TVLSettings::encodedTags();
    if (auto tags = decodeTags(text)) {
        palette().tags = *tags;
        return;
    }
    // The setting itself is left as it is: the user's palette is not overwritten by a guess.
    HVXLogWarning(QStringLiteral("Can't decode the tag palette in \"TVLTags\", no tags available: %1")
                      .arg(hvxLogValue(text)));
    palette().tags.clear();
}

void TVLTag::saveTags()
{
    ensureLoaded();
    TVLSettings::setEncodedTags(encodeTags(palette().tags));
}

const QList<TVLTag *> &TVLTag::allTags()
{
    ensureLoaded();
    return palette().tags;
}

TVLTag *TVLTag::tagWithId(quint64 tagId)
{
    const QList<TVLTag *> &tags = allTags();
    if (tagId < 1 || tagId > 9 || tagId > quint64(tags.size()))
        return nullptr;
    return tags.at(qsizetype(tagId - 1));
}

std::optional<HVXColor> TVLTag::colorForTagId(quint64 tagId)
{
    if (TVLTag *tag = tagWithId(tagId))
        return tag->color();
    return std::nullopt;
}

quint16 TVLTag::bitMaskForTagId(quint64 tagId)
{
    return tagId < 16 ? quint16(1u << tagId) : quint16(0);
}

HVXColor TVLTag::contrastingTextColorForColor(const HVXColor &color)
{
    const double luminance = 0.2126 * linearComponent(color.red) + 0.7152 * linearComponent(color.green)
                             + 0.0722 * linearComponent(color.blue);
    return luminance > 0.4 ? HVXSystemColor::black() : HVXSystemColor::white();
}

QString TVLTag::encodeTags(const QList<TVLTag *> &tags)
{
    QJsonArray list;
    for (const TVLTag *tag : tags) {
        QJsonObject entry;
        entry.insert(QStringLiteral("tagId"), qint64(tag->tagId()));
        entry.insert(QStringLiteral("name"), tag->name());
        entry.insert(QStringLiteral("color"), tag->color().hexString());
        list.append(entry);
    }
    return QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact));
}

std::optional<QList<TVLTag *>> TVLTag::decodeTags(const QString &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    std::vector<std::unique_ptr<TVLTag>> decoded;
    for (const QJsonValue &value : document.array()) {
        const QJsonObject entry = value.toObject();
        const QJsonValue tagId = entry.value(QStringLiteral("tagId"));
        const QJsonValue name = entry.value(QStringLiteral("name"));
        const auto color = HVXColor::fromHexString(entry.value(QStringLiteral("color")).toString());
        if (!tagId.isDouble() || tagId.toDouble() < 0 || !name.isString() || !color)
            return std::nullopt;
        decoded.push_back(std::make_unique<TVLTag>(quint64(tagId.toInteger()), name.toString(), *color));
    }
    QList<TVLTag *> tags;
    for (auto &tag : decoded) {
        tags.append(tag.get());
        palette().owned.push_back(std::move(tag));
    }
    return tags;
}
