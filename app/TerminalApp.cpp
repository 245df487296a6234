#include "app/TerminalApp.h"

#include "terminal/TerminalDlg.h"

CTerminalApp theApp;

int CTerminalApp::InitInstance()
{
    {
        CTerminalDlg dlg;
        dlg.exec();
    } // the window and everything it owns are gone before the program ends
    return 0;
}
