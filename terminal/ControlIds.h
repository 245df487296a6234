// Resource ids of the terminal window: the About entry's command id and the id of every control
// that handlers, the event table and tests look up. Controls without an id (frames, labels)
// are 0. The numbers are the window's public names and never change.
#pragma once

enum : int
{
    IDM_ABOUTBOX = 16, // the About entry of the window's context menu (its QAction's data)

    IDC_PORT = 1001,
    IDC_CLOSE_PORT = 1002,
    IDC_OPEN_PORT = 1003,
    IDC_CLEAR = 1004,
    IDC_BAUDRATE = 1005,
    IDC_BYTESIZE = 1006,
    IDC_STOPBITS = 1007,
    IDC_PARITY = 1008,
    IDC_FLOW = 1009,
    IDC_DTR = 1010,
    IDC_RTS = 1011,
    IDC_INPUT = 1012,
    IDC_SEND = 1013,
    IDC_OPEN_FILE = 1014,
    IDC_STATUS1 = 1017,
    IDC_STATUS2 = 1018,
    IDC_STATUS_BAUD = 1019,
    IDC_STATUS_PORT = 1020,
    IDC_COMMANDS = 1022,
    IDC_BANNER = 1024,
    IDC_RECEIVE = 1025,
};
