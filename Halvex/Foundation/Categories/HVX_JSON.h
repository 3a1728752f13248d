#pragma once
// Reading and writing JSON text with the program's error reporting, and a pretty printer that
// renders a value as indented text, optionally with colour markup for styled text.
// Failures never throw: the result is absent and one log line says why.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <optional>

// Parses JSON text whose top level is an object or an array (a bare scalar is an error).
std::optional<QJsonValue> hvxJSONValue(const QString &text);
std::optional<QJsonValue> hvxJSONValue(const QByteArray &utf8);

// Compact JSON bytes: no white space, "/" written as "\/", object keys in ascending order.
// Only objects and arrays can be written; numbers must be finite.
std::optional<QByteArray> hvxJSON(const QJsonValue &value);
std::optional<QByteArray> hvxJSON(const QJsonObject &object);
std::optional<QByteArray> hvxJSON(const QJsonArray &array);

// The parsed value of a UTF-8 file; absent when it is missing or does not parse.
std::optional<QJsonValue> loadPropertyListFromJSONFile(const QString &path);
// The parsed value of the resource "<name>.json" (":/<name>.json", or else the first resource
// of that file name anywhere in the resource tree). A missing resource is logged unless optional.
std::optional<QJsonValue> loadPropertyListFromJSONResourceNamed(const QString &name, bool optional = false);

// UTF-8 bytes percent-encoded for use as a URL host.
QString hvxForUrl(const QByteArray &utf8);

// The pretty form at level 0 without highlight.
QString hvxPrettyPrint(const QJsonValue &value);
// The pretty form at an indentation level. With highlight the text carries colour markup:
// keys "[c:Brown]", strings "[c:Green]", numbers "[c:Blue]", null "[c:Gray]", each closed by "[c:]".
// Containers start with their own indentation, also when they are a value or an element.
QString hvxPrettyPrintWithIndent(const QJsonValue &value, unsigned level, bool highlight);
// n times four spaces.
QString hvxPPIndent(unsigned n);
