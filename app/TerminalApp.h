// CTerminalApp: the application object. InitInstance runs the whole program: it shows the
// terminal window modally and returns 0 when the window has ended and been torn down. The
// program takes no arguments of its own (Qt's own options still work). User-interface thread.
#pragma once

class CTerminalApp
{
  public:
    int InitInstance();
};

// The one application object.
extern CTerminalApp theApp;
