// Test fixtures for the terminal window: a pseudo-terminal that plays the device behind a COM
// port, a temporary device tree that gives it a COMn name, and waiting on a condition while the
// event loop runs. Used by the window's tests and benchmark; the user-interface thread only,
// except Send and Receive, which any one thread may use at a time.
#pragma once

#include "serial/SerialPort.h"

#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The line settings of a device as the kernel holds them.
struct PtyLineSettings
{
    unsigned speed = 0; // bits per second
    bool twoStopBits = false;
    bool rtsCts = false;  // hardware flow control
    bool xonXoff = false; // software flow control, both ways
    bool raw = false;     // no echo, no line editing, no translation of bytes
};

class CPtyDevice
{
  public:
    CPtyDevice();
    ~CPtyDevice();
    CPtyDevice(const CPtyDevice&) = delete;
    CPtyDevice& operator=(const CPtyDevice&) = delete;

    bool IsValid() const { return m_master >= 0; }
    const std::string& SlavePath() const { return m_slavePath; }
    int MasterFd() const { return m_master; }

    // The device sends: writes every byte, waiting while the line is full; false on time-out.
    bool Send(const void* data, std::size_t size, int timeoutMs = 10000)
    {
        return Write(data, size, timeoutMs) == size;
    }
    // Writes what it can within timeoutMs and returns how much that was.
    std::size_t Write(const void* data, std::size_t size, int timeoutMs);
    bool Send(const std::vector<std::uint8_t>& bytes) { return Send(bytes.data(), bytes.size()); }
    // What the port wrote to the device: waits up to timeoutMs for at least `atLeast` bytes,
    // then returns everything queued. Never blocks past the deadline.
    std::vector<std::uint8_t> Receive(std::size_t atLeast, int timeoutMs);
    // Everything queued right now, waiting `quietMs` for stragglers.
    std::vector<std::uint8_t> Drain(int quietMs = 0);
    // The settings the port left on the device; false when they cannot be read.
    bool LineSettings(PtyLineSettings* settings) const;

  private:
    int m_master = -1;
    std::string m_slavePath;
};

// A temporary /dev with COMn links and an empty /sys/class/tty, so that only the links
// name ports and no real serial device is ever touched.
class CDeviceTree
{
  public:
    CDeviceTree();
    bool Link(int portNumber, const std::string& target);
    void Unlink(int portNumber);
    SerialDeviceRoots Roots() const;

  private:
    QTemporaryDir m_dir;
};

// Runs the event loop until `condition` holds or `timeoutMs` passes; returns the condition.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000);

// Two hex digits per byte, uppercase, no separators: what the receive view shows.
std::string HexOf(const std::vector<std::uint8_t>& bytes);

// Deterministic pseudo-random bytes for streams.
std::vector<std::uint8_t> SeededBytes(std::size_t count, std::uint32_t seed);
