#include "terminal/accessible/AccessibleFactory.h"

#include <QObject>
#include <QString>

QAccessibleInterface* TerminalAccessibleFactory(const QString& className, QObject* object)
{
    if (object == nullptr || !object->isWidgetType())
        return nullptr;
    if (className == QLatin1String("CInputField"))
        return NewInputFieldAccessible(object);
    if (className == QLatin1String("CReceiveView"))
        return NewReceiveViewAccessible(object);
    if (className == QLatin1String("CStatusPane"))
        return NewStatusPaneAccessible(object);
    return nullptr;
}
