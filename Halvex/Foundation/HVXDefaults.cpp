#include "HVXDefaults.h"

#include <QCoreApplication>
#include <QMutex>

namespace {
std::unique_ptr<HVXDefaults> &standardInstance()
{
    static std::unique_ptr<HVXDefaults> instance;
    return instance;
}
} // namespace

HVXDefaults::HVXDefaults(std::unique_ptr<QSettings> settings)
    : m_settings(std::move(settings))
{
}

HVXDefaults &HVXDefaults::standard()
{
    // Transcripts may be parsed on worker threads, and the first use can happen there.
    static QMutex creation;
    QMutexLocker lock(&creation);
    auto &instance = standardInstance();
    if (!instance) {
        const QString path = qEnvironmentVariable("TAVLO_SETTINGS_FILE");
        if (!path.isEmpty())
            instance.reset(new HVXDefaults(std::make_unique<QSettings>(path, QSettings::IniFormat)));
        else
            instance.reset(new HVXDefaults(std::make_unique<QSettings>(
                QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tavlo"), QStringLiteral("Tavlo"))));
        // Change signals belong to the main thread, whichever thread asked first.
        if (const QCoreApplication *app = QCoreApplication::instance())
            instance->moveToThread(app->thread());
    }
    return *instance;
}

void HVXDefaults::useStoreAtPath(const QString &iniPath)
{
    auto &instance = standardInstance();
    QVariantMap registered;
    if (instance) {
        instance->sync();
        registered = instance->m_registered;
    }
    // The object stays the same so that observers keep working; only the store changes.
    if (!instance)
        instance.reset(new HVXDefaults(std::make_unique<QSettings>(iniPath, QSettings::IniFormat)));
    else
        instance->m_settings = std::make_unique<QSettings>(iniPath, QSettings::IniFormat);
    instance->m_registered = registered;
}

std::unique_ptr<HVXDefaults> HVXDefaults::createWithStoreAtPath(const QString &iniPath)
{
    return std::unique_ptr<HVXDefaults>(new HVXDefaults(std::make_unique<QSettings>(iniPath, QSettings::IniFormat)));
}

QString HVXDefaults::storePath() const { return m_settings->fileName(); }

void HVXDefaults::registerDefaults(const QVariantMap &defaults)
{
    for (auto it = defaults.begin(); it != defaults.end(); ++it)
        m_registered.insert(it.key(), it.value());
}

QVariant HVXDefaults::registeredValue(const QString &key) const { return m_registered.value(key); }

bool HVXDefaults::contains(const QString &key) const { return m_settings->contains(key); }

QVariant HVXDefaults::value(const QString &key) const
{
    if (m_settings->contains(key))
        return m_settings->value(key);
    return m_registered.value(key);
}

qint64 HVXDefaults::integerForKey(const QString &key) const
{
    bool ok = false;
    const qint64 result = value(key).toLongLong(&ok);
    return ok ? result : 0;
}

bool HVXDefaults::boolForKey(const QString &key) const
{
    const QVariant v = value(key);
    // INI files give strings back; "true"/"false" and numbers both read as expected.
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed().toLower();
        if (s == QLatin1String("true") || s == QLatin1String("yes"))
            return true;
        bool ok = false;
        const qint64 n = s.toLongLong(&ok);
        return ok && n != 0;
    }
    return v.toBool();
}

double HVXDefaults::doubleForKey(const QString &key) const { return value(key).toDouble(); }

QString HVXDefaults::stringForKey(const QString &key) const
{
    const QVariant v = value(key);
    return v.canConvert<QString>() ? v.toString() : QString();
}

QByteArray HVXDefaults::dataForKey(const QString &key) const { return value(key).toByteArray(); }

QVariantList HVXDefaults::listForKey(const QString &key) const
{
    const QVariant v = value(key);
    // An INI file stores a string list of one entry as that bare string; it reads back as a
    // string, which toList() would take apart character by character.
    if (v.typeId() == QMetaType::QString)
        return {v};
    return v.toList();
}

void HVXDefaults::setValue(const QString &key, const QVariant &value)
{
    m_settings->setValue(key, value);
    Q_EMIT changed(key);
}

void HVXDefaults::remove(const QString &key)
{
    m_settings->remove(key);
    Q_EMIT changed(key);
}

QMetaObject::Connection HVXDefaults::observe(const QString &key, QObject *context, std::function<void()> callback)
{
    return connect(this, &HVXDefaults::changed, context, [key, callback = std::move(callback)](const QString &changedKey) {
        if (changedKey == key)
            callback();
    });
}

HVXSubscription HVXDefaults::subscribe(const QStringList &keys, QObject *context, std::function<void()> callback,
                                       bool deliverCurrentValue)
{
    if (deliverCurrentValue)
        callback();
    return HVXSubscription({connect(this, &HVXDefaults::changed, context,
                                    [keys, callback = std::move(callback)](const QString &changedKey) {
                                        if (keys.contains(changedKey))
                                            callback();
                                    })});
}

void HVXDefaults::sync() { m_settings->sync(); }
