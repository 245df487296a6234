// CTerminalApp: the application object. InitInstance runs the whole program: it shows the
// terminal window modally and returns 0 when the window has ended and been torn down. The
// program takes no arguments of its own (Qt's own options still work). User-interface thread.
//
// One environment variable: VORLANTI_DEVICE_TREE=DIR makes the program look for its ports in
// DIR/dev and DIR/sys/class/tty instead of /dev and /sys/class/tty, so that a test can run the
// real program on pseudo-terminals of its own without root.
#pragma once

#include "serial/SerialPort.h"

class CTerminalApp
{
  public:
    int InitInstance();

  private:
    static SerialDeviceRoots DeviceRoots();
};

// The one application object.
extern CTerminalApp theApp;
