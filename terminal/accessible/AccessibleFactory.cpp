#include "terminal/accessible/AccessibleFactory.h"

#include <QAccessible>
#include <QObject>
#include <QString>
#include <mutex>

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
    if (className == QLatin1String("QLabel"))
        return NewBannerAccessible(object);
    return nullptr;
}

void InstallAccessibleFactory()
{
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(TerminalAccessibleFactory); });
}
