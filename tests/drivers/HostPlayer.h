// The real-driver tests' side of the guest (tests/drivers/run-in-guest boots it): the host
// program that plays the devices behind the guest's serial ports, asked over the control line,
// and what the guest needs to check its answers. The test thread only.
//
// Devices: "uart" behind /dev/ttyS1 (the 8250 driver), and the FTDI USB adapters "A" (USB
// serial number AAAA) and "B" (BBBB), plugged in only while the host holds their sockets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the host has read from a device since it was last reset.
struct HostReceived
{
    std::uint64_t count = 0;
    std::uint32_t crc = 0; // CRC-32 of the bytes
    bool answered = false; // false when the host did not answer in time
};

class CHostPlayer
{
  public:
    // The control line named by VORLANTI_GUEST_CONTROL; IsThere() is false outside a guest.
    CHostPlayer();
    ~CHostPlayer();
    CHostPlayer(const CHostPlayer&) = delete;
    CHostPlayer& operator=(const CHostPlayer&) = delete;

    bool IsThere() const { return m_fd >= 0; }

    // One request (see run-in-guest); true when the host answered "ok". *words gets the rest of
    // the answer. Gives up after timeoutMs.
    bool Ask(const std::string& request, std::string* words = nullptr, int timeoutMs = 20000);

    bool Plug(const std::string& device) { return Ask("plug " + device); }
    bool Unplug(const std::string& device) { return Ask("unplug " + device); }
    bool Pause(const std::string& device) { return Ask("pause " + device); }
    bool Resume(const std::string& device) { return Ask("resume " + device); }
    bool Reset(const std::string& device) { return Ask("reset " + device); }
    // The host writes `count` pattern bytes (Pattern) to the guest through the device.
    bool Send(const std::string& device, std::uint64_t count, std::uint32_t seed);
    // What the host has read from the device, once at least `atLeast` bytes or timeoutMs.
    HostReceived Received(const std::string& device, std::uint64_t atLeast = 0, int timeoutMs = 0);

  private:
    int m_fd = -1;
    std::string m_pending; // read past the last answer
};

// The bytes the host sends for a seed: an xorshift32 stream, as run-in-guest makes it.
std::vector<std::uint8_t> Pattern(std::uint32_t seed, std::size_t count);

// CRC-32 as zlib computes it, continuing from `crc` (0 to start).
std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t count, std::uint32_t crc = 0);
