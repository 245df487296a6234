// The device layer under CSerialPort: one open serial device and the few operations the port
// object needs from the operating system (open by name, queue sizes, get and set the DCB,
// time-outs, read, write, close). The Linux implementation lives in serial/posix/; nothing
// above this header sees a termios bit.
//
// Names: "COMn" resolves as serial/PortName.h says, the system console last. Anything that is not a
// character device that answers as a terminal is refused, and a port that another opener holds
// (flock, fcntl lock or TIOCEXCL) is refused before anything on it is changed.
//
// Threads: the read calls (WaitForInput, ReadQueued), the write calls (WriteQueued,
// WaitForRoom, OutputQueued, WaitUntilSent) and the state calls may run on different threads at
// the same time. No call waits except the three Wait calls, so a caller that serialises the
// others never holds its lock across a wait. Destroying the device needs every other call to
// have returned; Wake makes every wakeable wait of this device return Cancelled at once and for
// good, so the owner gets there in well under a millisecond.
//
// Hang-up: when the device goes away (USB adapter unplugged, far end of a pseudo-terminal
// closed) the first call that notices reports Gone and the dead descriptor is released at once,
// so the kernel's locks on the port go with it. While gone, WaitForInput looks for the device
// again, at most once per read constant (50 ms at least), and when it is there reopens it
// exclusively with the settings and modem lines last asked for; otherwise it waits out its
// deadline and reports Gone, so a caller looping on reads does not spin. Meanwhile GetState
// reports the settings the device will get back, and SetState reports Gone but keeps a valid
// record for the reopening, which falls back to the settings the device had when it refuses
// that record. Which device counts as back: a USB adapter is known by its identity
// (AdapterIdentity, serial/PortName.h), so another adapter that took its node is never opened,
// and the adapter is followed to whatever node it comes back under; any other device must be at
// the same path under the same name again. A pseudo-terminal's number is reused by whoever
// opens the next one, so for one only a link made anew under the name leads back.
//
// Time-outs are in milliseconds. Failures are DeviceStatus values (serial/CommTypes.h); SetState
// refuses what ValidateDcb (serial/DcbValidation.h) refuses. Open explains itself in words.
#pragma once

#include "serial/CommTypes.h"
#include "serial/PortName.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class SerialDevice
{
  public:
    // Opens name ("COMn") under roots exclusively and in raw binary mode, or returns null with
    // the reason in *whyNot ("<path>: in use by another program").
    static std::unique_ptr<SerialDevice> Open(const std::string& name,
                                              const SerialDeviceRoots& roots, std::string* whyNot);

    // Closing: the exclusive mode is given up, output not yet sent is discarded (the kernel
    // would otherwise wait up to 30 s for a stalled line; a pseudo-terminal's output is already
    // in its far end's input and stays there), and the descriptor is closed. An owner that wants
    // queued output on the line waits for it first (WaitUntilSent).
    virtual ~SerialDevice() = default;

    // Linux has no per-handle queue sizes: always succeeds and changes nothing.
    virtual bool SetupQueues(std::uint32_t inputBytes, std::uint32_t outputBytes) = 0;

    virtual DeviceStatus GetState(DCB* dcb) = 0;
    // Validates, applies, reads the settings back and compares; a record that is rejected or
    // that the device does not keep leaves the device as it was, and *whyNot (when given) says
    // why in words: the rule it broke, or what the device cannot do ("the device cannot do 6
    // data bits", naming what its driver changed). A pseudo-terminal carries whole bytes with no
    // wire behind it and forces 8 data bits and no parity: on one, those two differences are
    // accepted and GetState reports what it keeps.
    virtual DeviceStatus SetState(const DCB& dcb, std::string* whyNot) = 0;

    // Read modes: interval and multiplier MAXDWORD, any constant (wait up to the constant for
    // the first byte), or interval MAXDWORD with multiplier and constant 0 (never wait). A write
    // may take the write constant plus the bytes' time on the line at the current settings plus
    // a small margin (WriteBound, serial/LineTime.h); the write multiplier is not used, so no
    // write can wait without bound. Until set, reads never wait and writes get only the line
    // time and the margin.
    virtual DeviceStatus SetTimeouts(const COMMTIMEOUTS& timeouts) = 0;
    virtual std::chrono::milliseconds ReadWait() const = 0;
    // The bound of a write of `count` bytes, and the time `queued` bytes in the output queue
    // need to leave (DrainBound), at the settings in force.
    virtual std::chrono::milliseconds WriteWait(std::uint32_t count) const = 0;
    virtual std::chrono::milliseconds DrainWait(std::uint32_t queued) const = 0;

    // Waits until input is queued (Ok), the deadline passes (TimedOut), Wake (Cancelled) or a
    // hang-up (Gone).
    virtual DeviceStatus WaitForInput(std::chrono::steady_clock::time_point deadline) = 0;
    // Takes up to count queued bytes without waiting; Ok with *countRead 0 when none are.
    virtual DeviceStatus ReadQueued(void* buffer, std::uint32_t count,
                                    std::uint32_t* countRead) = 0;
    // Hands the kernel as much of count as fits in its output queue, without waiting; Ok with
    // *countWritten 0 when the queue is full.
    virtual DeviceStatus WriteQueued(const void* buffer, std::uint32_t count,
                                     std::uint32_t* countWritten) = 0;
    // Waits until the output queue has room (Ok), the deadline passes (TimedOut), Wake
    // (Cancelled) or a hang-up (Gone).
    virtual DeviceStatus WaitForRoom(std::chrono::steady_clock::time_point deadline) = 0;
    // The bytes the kernel has taken that have not left on the line yet (a pseudo-terminal
    // has no such queue: always 0).
    virtual DeviceStatus OutputQueued(std::uint32_t* queued) = 0;
    // Waits until the output queue is empty (Ok), the deadline passes (TimedOut), a hang-up
    // (Gone) or, when `wakeable`, Wake (Cancelled); *stillQueued is what is left then, or after
    // a hang-up what was left when the queue was last seen (unchanged if it never was). Not
    // wakeable, it serves an owner that has called Wake and still lets the line take what it can
    // before closing.
    virtual DeviceStatus WaitUntilSent(std::chrono::steady_clock::time_point deadline,
                                       bool wakeable, std::uint32_t* stillQueued) = 0;
    // Throws away the output queue, so that nothing of it leaves later; *discarded is what it
    // held. Bytes already in the UART's own transmit buffer (16 on a 16550A) are not in the
    // queue and still leave.
    virtual DeviceStatus DiscardQueued(std::uint32_t* discarded) = 0;
    // The most bytes that may still be in the UART's own transmit buffer, past the output queue:
    // 0 when its transmitter is empty or the device cannot tell, else the buffer's size, since
    // how much of it is filled cannot be read (16 on a 16550A).
    virtual std::uint32_t HeldByTransmitter() = 0;

    virtual void Wake() = 0;

    // The device's path: the one the name resolved to when it was opened, or the node a USB
    // adapter came back under.
    virtual std::string Path() const = 0;
    // False between a hang-up and the reopening of the device.
    virtual bool IsConnected() const = 0;
};
