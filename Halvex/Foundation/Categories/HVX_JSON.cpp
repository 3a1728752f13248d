#include "HVX_JSON.h"

#include "Halvex/Foundation/Categories/HVXString.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/Foundation/HVXSafeFile.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <algorithm>
#include <cmath>

namespace {

std::optional<QJsonValue> parse(const QByteArray &utf8)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(utf8, &error);
    if (error.error != QJsonParseError::NoError) {
        HVXLogError(QStringLiteral("Error creating object from JSON: %1 at offset %2\nJSON String: %3")
                        .arg(error.errorString())
                        .arg(error.offset)
                        .arg(hvxLogValue(utf8)));
        return std::nullopt;
    }
    if (document.isObject())
        return QJsonValue(document.object());
    return QJsonValue(document.array());
}

// NaN and infinity have no JSON text.
bool containsNonFiniteNumber(const QJsonValue &value)
{
    if (value.isDouble())
        return !std::isfinite(value.toDouble());
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        return std::any_of(array.begin(), array.end(), [](const QJsonValue &v) { return containsNonFiniteNumber(v); });
    }
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        return std::any_of(object.begin(), object.end(), [](const QJsonValue &v) { return containsNonFiniteNumber(v); });
    }
    return false;
}

std::optional<QByteArray> writeFailed(const QString &reason, const QJsonValue &value)
{
    QString quoted;
    if (value.isObject() || value.isArray()) {
        const QJsonDocument document = value.isObject() ? QJsonDocument(value.toObject()) : QJsonDocument(value.toArray());
        quoted = hvxLogValue(document.toJson(QJsonDocument::Compact));
    } else {
        quoted = hvxLogValue(value.toVariant().toString());
    }
    HVXLogError(QStringLiteral("Error creating JSON: %1\nObject: %2").arg(reason, quoted));
    return std::nullopt;
}

QString numberText(const QJsonValue &value)
{
    if (value.isBool())
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    const QVariant number = value.toVariant();
    if (number.typeId() == QMetaType::LongLong)
        return QString::number(number.toLongLong());
    return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
}

QString prettyString(const QString &text, bool highlight)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    escaped.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return highlight ? QStringLiteral("[c:Green]\"%1\"[c:]").arg(escaped) : QStringLiteral("\"%1\"").arg(escaped);
}

QString prettyObject(const QJsonObject &object, unsigned level, bool highlight)
{
    QStringList keys = object.keys();
    std::sort(keys.begin(), keys.end(), [](const QString &a, const QString &b) { return a.compare(b) < 0; });
    const QString keyOpen = highlight ? QStringLiteral("[c:Brown]") : QString();
    const QString keyClose = highlight ? QStringLiteral("[c:]") : QString();
    QStringList entries;
    entries.reserve(keys.size());
    for (const QString &key : keys)
        entries.append(hvxPPIndent(level + 1) + keyOpen + QLatin1Char('"') + key + QLatin1Char('"') + keyClose
                       + QLatin1String(": ") + hvxPrettyPrintWithIndent(object.value(key), level + 1, highlight));
    return hvxPPIndent(level) + QLatin1String("{\n") + entries.join(QLatin1String(",\n")) + QLatin1Char('\n')
           + hvxPPIndent(level) + QLatin1Char('}');
}

QString prettyArray(const QJsonArray &array, unsigned level, bool highlight)
{
    QStringList lines;
    lines.reserve(array.size());
    for (const QJsonValue &element : array)
        lines.append(hvxPPIndent(level + 1) + hvxPrettyPrintWithIndent(element, level + 1, highlight));
    QString text = hvxPPIndent(level) + QLatin1String("[\n") + lines.join(QLatin1String(",\n"));
    if (!lines.isEmpty())
        text += QLatin1Char('\n');
    return text + hvxPPIndent(level) + QLatin1Char(']');
}

} // namespace

std::optional<QJsonValue> hvxJSONValue(const QString &text) { return parse(text.toUtf8()); }

std::optional<QJsonValue> hvxJSONValue(const QByteArray &utf8) { return parse(utf8); }

std::optional<QByteArray> hvxJSON(const QJsonValue &value)
{
    if (!value.isObject() && !value.isArray())
        return writeFailed(QStringLiteral("Invalid top-level type in JSON write"), value);
    if (containsNonFiniteNumber(value))
        return writeFailed(QStringLiteral("Invalid number value (NaN or infinity) in JSON write"), value);
    // Qt keeps object keys sorted, which gives the fixed ascending order.
    const QJsonDocument document = value.isObject() ? QJsonDocument(value.toObject()) : QJsonDocument(value.toArray());
    QByteArray bytes = document.toJson(QJsonDocument::Compact);
    // A solidus can only occur inside a string, so every one of them is escaped.
    bytes.replace('/', QByteArrayLiteral("\\/"));
    return bytes;
}

std::optional<QByteArray> hvxJSON(const QJsonObject &object) { return hvxJSON(QJsonValue(object)); }

std::optional<QByteArray> hvxJSON(const QJsonArray &array) { return hvxJSON(QJsonValue(array)); }

std::optional<QJsonValue> loadPropertyListFromJSONFile(const QString &path)
{
    if (path.isEmpty())
        HVXLogAssertion(QStringLiteral("Can't read JSON without a path!"));
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        HVXLogError(QStringLiteral("File not found at '%1'").arg(path));
        return std::nullopt;
    }
    QByteArray bytes;
    if (path.startsWith(QLatin1Char(':'))) {
        QFile resource(path);
        if (!resource.open(QIODevice::ReadOnly))
            return std::nullopt;
        bytes = resource.readAll();
    } else {
        // Only a regular file of a sensible size: not a pipe that never ends, nor a device.
        QString why;
        const std::optional<QByteArray> read = HVXSafeFile::readFile(path, 64 << 20, &why);
        if (!read) {
            HVXLogError(QStringLiteral("Can't read '%1': %2").arg(path, why));
            return std::nullopt;
        }
        bytes = *read;
    }
    // Text that is not UTF-8 is not a JSON file of ours; that is not worth a log line.
    if (!hvxUTF8String(bytes))
        return std::nullopt;
    const QByteArray byteOrderMark("\xEF\xBB\xBF");
    return parse(bytes.startsWith(byteOrderMark) ? bytes.mid(byteOrderMark.size()) : bytes);
}

namespace {
QString resourcePathNamed(const QString &fileName)
{
    const QString direct = QStringLiteral(":/") + fileName;
    if (QFileInfo::exists(direct))
        return direct;
    if (fileName.contains(QLatin1Char('/')))
        return QString();
    QDirIterator it(QStringLiteral(":/"), {fileName}, QDir::Files, QDirIterator::Subdirectories);
    return it.hasNext() ? it.next() : QString();
}
} // namespace

std::optional<QJsonValue> loadPropertyListFromJSONResourceNamed(const QString &name, bool optional)
{
    const QString path = name.isEmpty() ? QString() : resourcePathNamed(name + QLatin1String(".json"));
    if (path.isEmpty()) {
        if (!optional)
            HVXLogWarning(QStringLiteral("Can't find JSON resource named '%1'!").arg(name));
        return std::nullopt;
    }
    return loadPropertyListFromJSONFile(path);
}

QString hvxForUrl(const QByteArray &utf8) { return hvxUrlHostEscapedString(QString::fromUtf8(utf8)); }

QString hvxPrettyPrint(const QJsonValue &value) { return hvxPrettyPrintWithIndent(value, 0, false); }

QString hvxPrettyPrintWithIndent(const QJsonValue &value, unsigned level, bool highlight)
{
    switch (value.type()) {
    case QJsonValue::String:
        return prettyString(value.toString(), highlight);
    case QJsonValue::Bool:
    case QJsonValue::Double:
        return highlight ? QStringLiteral("[c:Blue]%1[c:]").arg(numberText(value)) : numberText(value);
    case QJsonValue::Null:
        return highlight ? QStringLiteral("[c:Gray]null[c:]") : QStringLiteral("null");
    case QJsonValue::Object:
        return prettyObject(value.toObject(), level, highlight);
    case QJsonValue::Array:
        return prettyArray(value.toArray(), level, highlight);
    case QJsonValue::Undefined:
        break;
    }
    return QLatin1String("{\n") + hvxPPIndent(level) + QLatin1String("}\n");
}

QString hvxPPIndent(unsigned n) { return QString(qsizetype(n) * 4, QLatin1Char(' ')); }
