#pragma once
// The neighbours of an element in a list: what comes after or before its first occurrence.
// Stepping through a list with them needs no index bookkeeping: no element means "from the
// start" (following) or "from the end" (preceding).

#include <algorithm>
#include <iterator>
#include <optional>

// The element after the first occurrence of `object`; the first element when no object is
// given; nothing for an empty list or when the object is missing or last.
template <class List, class T>
std::optional<typename List::value_type> hvxObjectFollowing(const List &list, const std::optional<T> &object)
{
    if (std::begin(list) == std::end(list))
        return std::nullopt;
    if (!object)
        return *std::begin(list);
    auto found = std::find(std::begin(list), std::end(list), *object);
    if (found == std::end(list) || std::next(found) == std::end(list))
        return std::nullopt;
    return *std::next(found);
}

// The element before the first occurrence of `object`; the last element when no object is
// given; nothing for an empty list or when the object is missing or first.
template <class List, class T>
std::optional<typename List::value_type> hvxObjectPreceding(const List &list, const std::optional<T> &object)
{
    if (std::begin(list) == std::end(list))
        return std::nullopt;
    if (!object)
        return *std::prev(std::end(list));
    auto found = std::find(std::begin(list), std::end(list), *object);
    if (found == std::end(list) || found == std::begin(list))
        return std::nullopt;
    return *std::prev(found);
}
