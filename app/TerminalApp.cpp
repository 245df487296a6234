#include "app/TerminalApp.h"

#include "terminal/TerminalDlg.h"

#include <QtGlobal>

CTerminalApp theApp;

int CTerminalApp::InitInstance()
{
    {
        CTerminalDlg dlg(DeviceRoots());
        dlg.exec();
    } // the window and everything it owns are gone before the program ends
    return 0;
}

SerialDeviceRoots CTerminalApp::DeviceRoots()
{
    SerialDeviceRoots roots;
    const QByteArray tree = qgetenv("VORLANTI_DEVICE_TREE");
    if (!tree.isEmpty())
    {
        roots.dev = tree.toStdString() + "/dev";
        roots.sysClassTty = tree.toStdString() + "/sys/class/tty";
    }
    return roots;
}
