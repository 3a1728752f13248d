#pragma once
// Persistent user settings with registered defaults. Values live in QSettings in the platform's
// standard place; registered defaults are kept in memory and answer for keys the user never set.
// Every write or removal emits changed(key), so views can follow one key.

#include "HVXSubscription.h"

#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <functional>
#include <memory>

class HVXDefaults final : public QObject
{
    Q_OBJECT
public:
    static HVXDefaults &standard();

    // Points the standard defaults at an INI file (tests, and the command line's --settings).
    static void useStoreAtPath(const QString &iniPath);
    // An instance of its own over an INI file, apart from the standard defaults (tests).
    static std::unique_ptr<HVXDefaults> createWithStoreAtPath(const QString &iniPath);
    QString storePath() const;

    void registerDefaults(const QVariantMap &defaults);
    QVariant registeredValue(const QString &key) const;

    bool contains(const QString &key) const;   // set by the user (not only registered)
    QVariant value(const QString &key) const;  // user value, else registered, else invalid
    qint64 integerForKey(const QString &key) const;
    bool boolForKey(const QString &key) const;
    double doubleForKey(const QString &key) const;
    QString stringForKey(const QString &key) const;
    QByteArray dataForKey(const QString &key) const;
    QVariantList listForKey(const QString &key) const;

    void setValue(const QString &key, const QVariant &value);
    void setInteger(const QString &key, qint64 value) { setValue(key, value); }
    void setBool(const QString &key, bool value) { setValue(key, value); }
    void remove(const QString &key);

    // Calls back on every change of the key until the context object is destroyed.
    QMetaObject::Connection observe(const QString &key, QObject *context, std::function<void()> callback);
    // Calls back on every change of any of the keys, and once at once when deliverCurrentValue is
    // set, until the context object is destroyed or the subscription is ended.
    HVXSubscription subscribe(const QStringList &keys, QObject *context, std::function<void()> callback,
                              bool deliverCurrentValue = false);

    void sync();

Q_SIGNALS:
    void changed(const QString &key);

private:
    explicit HVXDefaults(std::unique_ptr<QSettings> settings);

    std::unique_ptr<QSettings> m_settings;
    QVariantMap m_registered;
};
