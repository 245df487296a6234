// Port naming: which device "COMn" opens. Reads the device tree each time it is asked and keeps
// nothing, so any thread may call it; a name that leads to no device resolves to an empty path.
//
// "COMn" (n >= 1) resolves to <dev>/COMn when that entry exists (a link made by an
// administrator or a udev rule, for a name that never changes); otherwise to the n-th serial
// device present: ttyS ports with a UART behind them (sysfs "type" not 0), then ttyUSB, then
// ttyACM, then the ports of other serial drivers (entries with a device/driver link), each
// group in number order, and last of all the port that is the kernel's active console
// (<sysClassTty>/console/active lists it). A serial console carries the kernel's messages and
// often a login; opening it raw at another rate disturbs both, and a user who plugged in an
// adapter means that adapter, so the console gets a number only after every other port.
#pragma once

#include <string>

// Where the device layer looks for devices; tests point both at a temporary tree.
struct SerialDeviceRoots
{
    std::string dev = "/dev";
    std::string sysClassTty = "/sys/class/tty";
};

// "COMn" to a device path under roots.dev, or empty when the name resolves to nothing.
std::string ResolvePortName(const std::string& name, const SerialDeviceRoots& roots);

// Whether the device at path is one the kernel writes its console to, as
// <sysClassTty>/console/active lists them; a link counts as the device it leads to.
bool IsSystemConsole(const std::string& path, const SerialDeviceRoots& roots);

// What tells one USB adapter from another, whatever node it has now: its USB serial number
// where it has one ("serial AAAA"), else the USB port it is plugged into ("port 1-1.2");
// empty for a device that has neither, such as a UART or a pseudo-terminal. `path` is the
// device node or a link to it; the adapter is found through <sysClassTty>.
std::string AdapterIdentity(const std::string& path, const SerialDeviceRoots& roots);

// The node in `nodeDir` of the tty whose adapter has `identity`, or empty when none is
// present (yet).
std::string FindAdapter(const std::string& identity, const std::string& nodeDir,
                        const SerialDeviceRoots& roots);
