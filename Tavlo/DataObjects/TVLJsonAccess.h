#pragma once
// Reading values out of simdjson's DOM the way the model wants them: a key that is missing or
// holds another JSON type is simply absent.

#include <QString>
#include <QStringList>
#include <optional>
#include <simdjson.h>
#include <string_view>

namespace TVLJsonAccess {
inline QString toQString(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

inline std::optional<std::string_view> stringAt(const simdjson::dom::object &obj, std::string_view key)
{
    std::string_view value;
    if (obj[key].get_string().get(value) == simdjson::SUCCESS)
        return value;
    return std::nullopt;
}

inline std::optional<simdjson::dom::object> objectAt(const simdjson::dom::object &obj, std::string_view key)
{
    simdjson::dom::object value;
    if (obj[key].get_object().get(value) == simdjson::SUCCESS)
        return value;
    return std::nullopt;
}

inline std::optional<simdjson::dom::array> arrayAt(const simdjson::dom::object &obj, std::string_view key)
{
    simdjson::dom::array value;
    if (obj[key].get_array().get(value) == simdjson::SUCCESS)
        return value;
    return std::nullopt;
}

// A tool result's text: its content when that is a string, else the text of its items, one to a
// line, an image item as `imageText` (left out when that is empty).
inline QString toolResultText(const simdjson::dom::object &item, const QString &imageText = {})
{
    simdjson::dom::element content;
    if (item["content"].get(content) != simdjson::SUCCESS)
        return {};
    std::string_view text;
    if (content.get_string().get(text) == simdjson::SUCCESS)
        return toQString(text);
    QStringList parts;
    simdjson::dom::array items;
    if (content.get_array().get(items) == simdjson::SUCCESS)
        for (simdjson::dom::element part : items) {
            simdjson::dom::object partObject;
            if (part.get_object().get(partObject) != simdjson::SUCCESS)
                continue;
            if (const auto partText = stringAt(partObject, "text"))
                parts << toQString(*partText);
            else if (!imageText.isEmpty() && stringAt(partObject, "type") == "image")
                parts << imageText;
        }
    return parts.join(QLatin1Char('\n'));
}
} // namespace TVLJsonAccess
