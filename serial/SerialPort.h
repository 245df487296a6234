// CSerialPort: one serial device, opened by port number as "COMn", with the port lock that
// keeps the receive worker's reads and the sender's writes off the device at the same moment.
//
// Results are ints: non-zero for success, 0 for failure. Nothing throws and nothing is shown
// to the user; the reason of the last failed Open is kept in words for the window to offer.
//
// Threads: Open, Close, GetState, SetState, SetTimeouts and the lock operations run on the
// user-interface thread. Read (the receive worker) and Write (the sender) may run on other
// threads at the same time as each other and as Close: Close wakes a Read or Write in
// progress, which then returns 0, and no transfer ever touches a closed or reused descriptor.
//
// This header must not pull in any system header: the device layer under serial/posix/ is
// the only code that knows about termios.
#pragma once

#include "serial/CommTypes.h"

#include <cstdint>
#include <memory>
#include <string>

// Where the device layer looks for devices; tests point both at a temporary tree.
struct SerialDeviceRoots
{
    std::string dev = "/dev";
    std::string sysClassTty = "/sys/class/tty";
};

class SerialDevice; // the device layer's handle, serial/posix/

class CSerialPort
{
public:
    CSerialPort();
    explicit CSerialPort(SerialDeviceRoots roots);
    virtual ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    int CreateLock();
    int DestroyLock();
    int HasLock() const;
    int Lock(std::uint32_t timeoutMs);
    int Unlock();

    int Open(int portNumber);
    int Close();
    int IsOpen() const;

    int GetState(DCB* dcb);
    int SetState(DCB dcb);
    int SetTimeouts(std::uint32_t readConstantMs, std::uint32_t writeConstantMs);

    int Read(void* buffer, std::uint32_t count, std::uint32_t* countRead);
    int Write(const void* buffer, std::uint32_t count, std::uint32_t* countWritten);

    // Why the last Open failed, in words for the user ("no such device", "permission denied:
    // ... dialout group", "in use by another program", "not a serial device"); empty after a
    // successful Open.
    std::string GetLastOpenError() const;

    // The device path that "COMn" resolves to right now, or empty when none does.
    std::string DescribePort(int portNumber) const;

    const SerialDeviceRoots& GetRoots() const;
};
