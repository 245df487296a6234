#include "app/TerminalApp.h"
#include "terminal/accessible/AccessibleFactory.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    InstallAccessibleFactory();
    // Lets desktops match the window to its desktop entry, and so to its name and icon there.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.vorlanti.Vorlanti"));
    return theApp.InitInstance();
}
