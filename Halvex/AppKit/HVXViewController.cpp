#include "HVXViewController.h"

#include "Halvex/Foundation/HVXLog.h"

#include <QMetaProperty>

namespace {
// Declared by the controller's own classes: QObject's and QWidget's properties come first.
QMetaProperty declaredProperty(const QObject *controller, const QString &keyPath)
{
    const QMetaObject *meta = controller->metaObject();
    const int index = meta->indexOfProperty(keyPath.toUtf8().constData());
    if (index < QWidget::staticMetaObject.propertyCount())
        return {};
    return meta->property(index);
}
} // namespace

QVariant HVXViewController::hvxValueForKeyPath(const QString &keyPath) const
{
    const QMetaProperty property = declaredProperty(this, keyPath);
    return property.isValid() ? property.read(this) : QVariant();
}

bool HVXViewController::hvxSetValueForKeyPath(const QString &keyPath, const QVariant &value)
{
    const QMetaProperty property = declaredProperty(this, keyPath);
    if (!property.isWritable() || !property.write(this, value)) {
        HVXLogWarning(QStringLiteral("%1 has no property %2 that can be set to %3")
                          .arg(QString::fromLatin1(metaObject()->className()), hvxLogValue(keyPath),
                               hvxLogValue(value.toString())));
        return false;
    }
    return true;
}

bool HVXViewController::hvxIsUnset(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return true;
    return value.typeId() == QMetaType::QString && value.toString().isNull();
}

void HVXViewController::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    viewDidAppear();
}

void HVXViewController::hideEvent(QHideEvent *event)
{
    viewWillDisappear();
    QWidget::hideEvent(event);
}
