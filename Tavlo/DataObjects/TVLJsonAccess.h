#pragma once
// Reading values out of simdjson's DOM the way the model wants them: a key that is missing or
// holds another JSON type is simply absent.

#include <QString>
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
} // namespace TVLJsonAccess
