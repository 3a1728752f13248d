#include "HVXViewController.h"

QVariant HVXViewController::hvxValueForKeyPath(const QString &keyPath) const
{
    return property(keyPath.toUtf8().constData());
}

void HVXViewController::hvxSetValueForKeyPath(const QString &keyPath, const QVariant &value)
{
    setProperty(keyPath.toUtf8().constData(), value);
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
