#pragma once
// What a path or a tvl:// URL given to the program asks for: the path to open, the exchange to
// show, and the data debug mode to switch. "tvl:///abs/path" names the path; "?exchange=UUID"
// the exchange (the last non-empty one counts); "?dataDebugMode=yes" the mode, and reading the
// query ends there. Text without "scheme://" is a plain path, and so is a local file:// URL (what
// file managers hand over). A tvl URL with a host ("tvl://home/x.jsonl") or a relative path is
// refused, as is a file URL of another machine. Parsing touches nothing.

#include <QString>
#include <optional>

struct TVLUrlRequest
{
    enum Kind { PlainPath, TavloUrl, UnknownScheme, Refused };

    Kind kind = PlainPath;
    QString path;  // decoded; a plain path as given
    QString exchangeUuid;
    std::optional<bool> dataDebugMode;
    QString problem;  // why a URL was refused

    static TVLUrlRequest fromText(const QString &text);
};
