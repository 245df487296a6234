// CSerialPort: one serial device, opened by port number as "COMn", with the port lock that
// keeps the receive worker's reads and the sender's writes off the device at the same moment.
//
// Results are ints: non-zero for success, 0 for failure. Nothing throws and nothing is shown
// to the user; the reason of the last failed Open is kept in words for the window to offer.
//
// Threads: Open, Close, GetState, SetState, SetTimeouts and the lock operations run on one
// thread at a time, normally the user-interface thread; a second Close that meets one under way
// on another thread returns 1 once the first has taken the device. Read (the receive worker)
// and Write (the sender) may run on other threads at the same time as each other and as Close:
// Close wakes a Read or Write in progress, which then returns 0, and no transfer ever touches a
// closed or reused descriptor. Close lets output the line has not sent yet leave for at most
// kCloseDrainLimit (less when the queued bytes need less), then discards the rest and keeps the
// count (GetDiscardedAtClose); so Close may take up to that long, and a caller that must not
// wait runs it beside. Whoever starts a thread that reads or writes joins it before the object is
// destroyed.
//
// The port lock is a process-private, recursive mutex owned by the thread that took it; Unlock
// by another thread fails. Read and Write hold it across one system call at a time and never
// across a wait: Read waits for the first byte without it, Write waits for room in the output
// queue and for the queue to empty without it, so reads never wait behind a slow line and a
// sender never waits behind an idle read. A Read or Write waiting for the lock gives up when
// Close runs. Writes from several threads go one after another, each one's bytes together.
//
// Time-outs (SetTimeouts): a read returns at once with what is queued, else with the first
// bytes that arrive within the read constant, else with success and 0 bytes. A write may take
// the write constant plus the bytes' time on the line at the current settings plus a small
// margin (serial/LineTime.h), and counts what has left on the line: once the kernel has taken
// the last byte it waits, within the same bound, for the driver's output queue to empty, and
// the count written is what the kernel took less what is still queued. Stopping short at the
// bound is still success, with that count, and what the queue still holds then is discarded:
// left there it would go out whenever the line resumed, after the caller was told it had not,
// and in front of the next write's bytes. A write that Close, a hang-up or an error cut short
// returns 0 with the count that surely left before it: a Close first lets the line take what
// it can, as above; after a hang-up it is what the kernel had taken less what its queue held
// when last looked at, which is after every handful of bytes taken.
//
// Unplug and replug: when the device goes away its descriptor is released at once (so the
// kernel's locks and the device number go with it) and the object stays open; reads and writes
// fail. Reads then look for a device under the same name, at most about once per read
// time-out, each waiting out its time-out so that a polling caller does not spin; when one is
// back it is reopened exclusively with the same line settings and time-outs, and reading
// resumes. Line settings chosen while it is away count: GetState reports them, and SetState,
// though it fails then, keeps them for the device's return. GetLinkState tells which of these
// the port is in.
//
// This header must not pull in any system header: the device layer under serial/posix/ is
// the only code that knows about termios.
#pragma once

#include "serial/CommTypes.h"
#include "serial/PortName.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class SerialDevice; // the device layer's handle, serial/posix/

enum class LinkState
{
    Closed,     // no port open
    Connected,  // open, with the device there
    DeviceGone, // open, but the device went away; reads look for it again
};

// The longest Close lets queued output leave before it discards the rest.
inline constexpr std::chrono::milliseconds kCloseDrainLimit{200};

class CSerialPort
{
  public:
    // Told, on the writing thread and with no lock held, how many bytes of the Write in
    // progress the kernel has taken so far, each time it takes more.
    using WriteProgress = std::function<void(std::uint32_t taken)>;

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
    // 0 when the record breaks a rule or the device does not keep it; the device then keeps the
    // settings it had, and GetLastSettingsError says why.
    int SetState(DCB dcb);
    int SetTimeouts(std::uint32_t readConstantMs, std::uint32_t writeConstantMs);

    int Read(void* buffer, std::uint32_t count, std::uint32_t* countRead);
    int Write(const void* buffer, std::uint32_t count, std::uint32_t* countWritten,
              const WriteProgress& progress = {});
    // Bytes the last Close discarded because the line had not sent them in time.
    std::uint32_t GetDiscardedAtClose() const;
    // At most how many bytes, counted as sent since they had left the kernel's queue, were still
    // in the UART's own transmit buffer when the last Close ran; closing lost them. The kernel
    // cannot tell how full that buffer is, only its size, so this is a bound (16 on a 16550A).
    std::uint32_t GetHeldByTransmitterAtClose() const;

    // Why the last Open failed, in words for the user ("no such device", "permission denied
    // (add the user to the dialout group)", "in use by another program", "not a serial
    // device"); a permission denied names the device's group. Empty after a successful Open.
    std::string GetLastOpenError() const;
    // Why the last SetState failed, in words for the user ("1.5 stop bits need 5 data bits",
    // "the device cannot do 6 data bits"); empty after one that succeeded, or one that failed
    // only because the device is away (it gets the record when it is back).
    std::string GetLastSettingsError() const;

    // The device path that "COMn" resolves to right now, or empty when none does; and whether
    // the device at such a path is the system console. Any thread.
    std::string DescribePort(int portNumber) const;
    bool IsSystemConsole(const std::string& devicePath) const;

    // Any thread. The path is the device the open port was found at, empty while closed.
    LinkState GetLinkState() const;
    std::string GetDevicePath() const;

  private:
    class Use;
    class Transfer;
    class Writer;
    void ReleaseLock(std::uint64_t generation);
    std::uint32_t DrainForClose(SerialDevice& device);

    const SerialDeviceRoots m_roots;
    mutable std::mutex m_mx;           // guards every member below; never held while waiting on
    std::condition_variable m_changed; // the device: port lock free or gone, no call in flight
    std::unique_ptr<SerialDevice> m_device; // null while closed
    int m_inFlight = 0;                     // calls using m_device right now
    bool m_closing = false;
    std::chrono::steady_clock::time_point
        m_closeDrainEnd;    // while closing: queued output's last chance
    bool m_writing = false; // a Write is in progress
    std::uint32_t m_discardedAtClose = 0;
    std::uint32_t m_heldAtClose = 0;
    bool m_lockExists = false;
    std::thread::id m_lockOwner;
    unsigned m_lockDepth = 0;
    std::uint64_t m_lockGeneration = 0; // a transfer releases only the lock it took
    std::string m_lastOpenError;
    std::string m_lastSettingsError;
};
