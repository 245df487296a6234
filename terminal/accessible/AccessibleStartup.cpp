// Compiled into every program that links the window's library (its INTERFACE_SOURCES), so that
// the factory is installed as the program's QApplication starts.
#include "terminal/accessible/AccessibleFactory.h"

#include <QAccessible>
#include <QCoreApplication>

namespace
{
void InstallTerminalAccessibleFactory()
{
    QAccessible::installFactory(TerminalAccessibleFactory);
}
} // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallTerminalAccessibleFactory)
