// Pseudo-terminals as serial devices. The slave is the port, reached as "COMn" through a
// temporary /dev tree; the master is the device's end. The master is raw from the start and gets
// no termios calls of its own (on a master they would change the slave), except for reading the
// slave's record back.
#pragma once

#include "serial/SerialPort.h"
#include "serial/posix/TermiosMapping.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <thread>
#include <vector>

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class Pty
{
  public:
    Pty();
    ~Pty() { CloseMaster(); }
    const std::string& SlavePath() const { return m_slave; }
    int Master() const { return m_master; }
    void CloseMaster();
    // Reads until n bytes came or the time is up.
    Bytes Read(std::size_t n, std::chrono::milliseconds within = 5s);
    termios2 Settings() const
    {
        termios2 t{};
        ::ioctl(m_master, TCGETS2, &t);
        return t;
    }

  private:
    int m_master = -1;
    std::string m_slave;
};

// A temporary directory with dev/ and sys/ below it.
struct TempTree
{
    TempTree();
    ~TempTree();
    SerialDeviceRoots Roots() const { return {dir + "/dev", dir + "/sys"}; }
    void Link(const std::string& name, const std::string& target) const; // dev/name -> target
    std::string dir;
};

// One pty linked as COM1 and a port object with a lock on that tree.
class PortTest : public ::testing::Test
{
  protected:
    PortTest() : port(tree.Roots())
    {
        tree.Link("COM1", pty.SlavePath());
        port.CreateLock();
    }
    // Opens COM1 with the default line settings and the given time-outs.
    bool OpenWithDefaults(std::uint32_t readMs = 50, std::uint32_t writeMs = 300);
    // Maps the choices onto the device's record and applies it.
    bool Apply(int baud, int byteSize, int stopBits, int parity, int flow);
    void Send(const Bytes& bytes)
    {
        ASSERT_EQ(::write(pty.Master(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }

    TempTree tree;
    Pty pty;
    CSerialPort port;
};

// Waits until the task (/proc/self/task/<tid> or /proc/<pid>) sits in one of the system calls.
bool WaitUntilInSyscall(const std::string& task, std::initializer_list<long> numbers);
int OpenDescriptorCount();
double ElapsedMs(Clock::time_point since);

// One call on a thread of its own; the constructor returns once the thread runs.
class Call
{
  public:
    template <typename F> explicit Call(F f)
    {
        m_thread = std::thread(
            [this, f]
            {
                m_task = "/proc/self/task/" + std::to_string(::gettid());
                m_started = true;
                m_result = f();
            });
        while (!m_started)
            std::this_thread::yield();
    }
    ~Call() { Result(); }
    // Whether the call is waiting in poll, or for a lock (futex).
    bool Polling() const;
    bool WaitingForLock() const;
    int Result()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_result;
    }

  private:
    std::string m_task;
    std::atomic<bool> m_started{false};
    std::atomic<int> m_result{-1};
    std::thread m_thread;
};
