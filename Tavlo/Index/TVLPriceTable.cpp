#include "TVLPriceTable.h"

#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/Foundation/HVXSafeFile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

static void initIndexResources() { Q_INIT_RESOURCE(TVLIndexResources); }

const TVLPriceTable &TVLPriceTable::builtIn()
{
    static const TVLPriceTable table = [] {
        initIndexResources();
        QString error;
        auto loaded = fromFile(QStringLiteral(":/index/prices.json"), &error);
        if (!loaded)
            HVXLogWarning(QStringLiteral("The built-in price table can't be read: %1").arg(error));
        return loaded.value_or(TVLPriceTable());
    }();
    return table;
}

std::optional<TVLPriceTable> TVLPriceTable::fromFile(const QString &path, QString *error)
{
    // The built-in table is a resource; a table the user names is a file that must be one.
    if (path.startsWith(QLatin1Char(':'))) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("can't read %1: %2").arg(path, file.errorString());
            return std::nullopt;
        }
        return fromJson(file.readAll(), error);
    }
    QString why;
    const std::optional<QByteArray> json = HVXSafeFile::readFile(path, 64 << 20, &why);
    if (!json) {
        *error = QStringLiteral("can't read %1: %2").arg(path, why);
        return std::nullopt;
    }
    return fromJson(*json, error);
}

std::optional<TVLPriceTable> TVLPriceTable::fromJson(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject()) {
        *error = parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                              : QStringLiteral("the table is not a JSON object");
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    TVLPriceTable table;
    table.m_date = root.value(QStringLiteral("date")).toString();
    table.m_source = root.value(QStringLiteral("source")).toString();
    const QJsonObject models = root.value(QStringLiteral("models")).toObject();
    if (table.m_date.isEmpty() || models.isEmpty()) {
        *error = QStringLiteral("the table needs a \"date\" and an object of \"models\"");
        return std::nullopt;
    }
    static const char *const kFields[] = {"input", "output", "cacheWrite5m", "cacheWrite1h", "cacheRead"};
    for (auto it = models.begin(); it != models.end(); ++it) {
        const QJsonObject entry = it.value().toObject();
        double values[5];
        for (int i = 0; i < 5; ++i) {
            const QJsonValue value = entry.value(QLatin1String(kFields[i]));
            if (!value.isDouble() || value.toDouble() < 0) {
                *error = QStringLiteral("the price of %1 needs a number for \"%2\"").arg(it.key(), QLatin1String(kFields[i]));
                return std::nullopt;
            }
            values[i] = value.toDouble();
        }
        table.m_prices.insert(it.key(), {values[0], values[1], values[2], values[3], values[4]});
    }
    return table;
}

std::optional<TVLPriceTable::Price> TVLPriceTable::priceForModel(const QString &model) const
{
    QMutexLocker locked(&m_lookups->lock);
    auto cached = m_lookups->byModel.constFind(model);
    if (cached != m_lookups->byModel.constEnd())
        return cached.value();
    static const QRegularExpression suffix(QStringLiteral("(-\\d{8})?(\\[[^\\]]*\\])?$"));
    std::optional<Price> price;
    auto exact = m_prices.constFind(model);
    if (exact == m_prices.constEnd())
        exact = m_prices.constFind(QString(model).remove(suffix));
    if (exact != m_prices.constEnd())
        price = exact.value();
    m_lookups->byModel.insert(model, price);
    return price;
}

double TVLPriceTable::cost(const Price &price, const TVLTokenUsage &usage)
{
    const qint64 oneHour = qMin(usage.ephemeral1hInputTokens, usage.cacheCreationInputTokens);
    const qint64 fiveMinutes = usage.cacheCreationInputTokens - oneHour;
    return (double(usage.inputTokens) * price.input + double(usage.outputTokens) * price.output
            + double(fiveMinutes) * price.cacheWrite5m + double(oneHour) * price.cacheWrite1h
            + double(usage.cacheReadInputTokens) * price.cacheRead)
         / 1e6;
}
