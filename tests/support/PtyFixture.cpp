#include "PtyFixture.h"

#include "serial/LineSettings.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;

Pty::Pty()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
        ::ptsname_r(m_master, name, sizeof name) != 0)
        throw std::runtime_error("no pseudo-terminal");
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slave = name;
}

void Pty::CloseMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

Bytes Pty::Read(std::size_t n, std::chrono::milliseconds within)
{
    Bytes got;
    const auto deadline = Clock::now() + within;
    while (got.size() < n && Clock::now() < deadline)
    {
        pollfd p = {m_master, POLLIN, 0};
        ::poll(&p, 1, 10);
        std::uint8_t buf[4096];
        const ssize_t r = ::read(m_master, buf, std::min(sizeof buf, n - got.size()));
        if (r > 0)
            got.insert(got.end(), buf, buf + r);
    }
    return got;
}

TempTree::TempTree() : dir((fs::temp_directory_path() / "vorlanti-serial-XXXXXX").string())
{
    if (!::mkdtemp(dir.data()))
        throw std::runtime_error("no temporary directory");
    fs::create_directories(dir + "/dev");
    fs::create_directories(dir + "/sys");
}

TempTree::~TempTree()
{
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

void TempTree::Link(const std::string& name, const std::string& target) const
{
    std::error_code ignored;
    fs::remove(dir + "/dev/" + name, ignored);
    fs::create_symlink(target, dir + "/dev/" + name);
}

bool PortTest::OpenWithDefaults(std::uint32_t readMs, std::uint32_t writeMs)
{
    return port.Open(1) &&
           Apply(kDefaultBaudIndex, kDefaultByteSizeIndex, kDefaultStopBitsIndex,
                 kDefaultParityIndex, kDefaultFlowIndex) &&
           port.SetTimeouts(readMs, writeMs);
}

bool PortTest::Apply(int baud, int byteSize, int stopBits, int parity, int flow)
{
    DCB dcb;
    if (!port.GetState(&dcb))
        return false;
    MapLineSettings({baud, byteSize, stopBits, parity, flow, true, true}, &dcb);
    return port.SetState(dcb) != 0;
}

bool WaitUntilInSyscall(const std::string& task, std::initializer_list<long> numbers)
{
    const auto deadline = Clock::now() + 5s;
    while (Clock::now() < deadline)
    {
        long nr = -1;
        std::ifstream(task + "/syscall") >> nr;
        if (std::find(numbers.begin(), numbers.end(), nr) != numbers.end())
            return true;
        std::this_thread::yield();
    }
    return false;
}

bool Call::Polling() const
{
    return WaitUntilInSyscall(m_task, {SYS_poll, SYS_ppoll});
}

bool Call::WaitingForLock() const
{
    return WaitUntilInSyscall(m_task, {SYS_futex});
}

int OpenDescriptorCount()
{
    return static_cast<int>(
        std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

double ElapsedMs(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}
