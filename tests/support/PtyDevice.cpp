#include "PtyDevice.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <random>
#include <termios.h>
#include <unistd.h>

namespace
{
int Remaining(const QDeadlineTimer& deadline)
{
    return static_cast<int>(std::max<qint64>(0, deadline.remainingTime()));
}

unsigned SpeedOf(speed_t code)
{
    switch (code)
    {
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    default:
        return 0;
    }
}
} // namespace

CPtyDevice::CPtyDevice()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_master < 0)
        return;
    char name[128];
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
        ::ptsname_r(m_master, name, sizeof name) != 0)
    {
        ::close(m_master);
        m_master = -1;
        return;
    }
    m_slavePath = name;
}

CPtyDevice::~CPtyDevice()
{
    if (m_master >= 0)
        ::close(m_master);
}

std::size_t CPtyDevice::Write(const void* data, std::size_t size, int timeoutMs)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const QDeadlineTimer deadline(timeoutMs);
    std::size_t written = 0;
    while (written < size)
    {
        const ssize_t n = ::write(m_master, bytes + written, size - written);
        if (n > 0)
        {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if ((n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) || deadline.hasExpired())
            break;
        pollfd p{m_master, POLLOUT, 0};
        ::poll(&p, 1, std::min(Remaining(deadline), 10));
    }
    return written;
}

std::vector<std::uint8_t> CPtyDevice::Receive(std::size_t atLeast, int timeoutMs)
{
    std::vector<std::uint8_t> out;
    const QDeadlineTimer deadline(timeoutMs);
    std::uint8_t buffer[4096];
    for (;;)
    {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0)
        {
            out.insert(out.end(), buffer, buffer + n);
            continue;
        }
        // EAGAIN: nothing queued; EIO: no one has the port open at the moment.
        if (out.size() >= atLeast || deadline.hasExpired())
            return out;
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, std::min(Remaining(deadline), 10)) > 0 && (p.revents & POLLHUP))
            ::poll(nullptr, 0, std::min(Remaining(deadline), 5)); // hung up: poll would spin
    }
}

std::vector<std::uint8_t> CPtyDevice::Drain(int quietMs)
{
    return Receive(std::numeric_limits<std::size_t>::max(), quietMs);
}

bool CPtyDevice::LineSettings(PtyLineSettings* settings) const
{
    // Read through the master, which answers with the slave's record: opening the slave would
    // fail for anyone but root while the port holds it exclusively.
    termios t{};
    if (::tcgetattr(m_master, &t) != 0)
        return false;
    settings->speed = SpeedOf(::cfgetospeed(&t));
    settings->twoStopBits = (t.c_cflag & CSTOPB) != 0;
    settings->rtsCts = (t.c_cflag & CRTSCTS) != 0;
    settings->xonXoff = (t.c_iflag & IXON) && (t.c_iflag & IXOFF);
    settings->raw = !(t.c_lflag & (ICANON | ECHO | ISIG)) && !(t.c_oflag & OPOST) &&
                    !(t.c_iflag & (ICRNL | INLCR | ISTRIP));
    return true;
}

CDeviceTree::CDeviceTree()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("dev"));
    QDir(m_dir.path()).mkpath(QStringLiteral("sys/class/tty"));
}

bool CDeviceTree::Link(int portNumber, const std::string& target)
{
    Unlink(portNumber);
    const std::string link = Roots().dev + "/COM" + std::to_string(portNumber);
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

void CDeviceTree::Unlink(int portNumber)
{
    const std::string link = Roots().dev + "/COM" + std::to_string(portNumber);
    ::unlink(link.c_str());
}

SerialDeviceRoots CDeviceTree::Roots() const
{
    SerialDeviceRoots roots;
    roots.dev = (m_dir.path() + QStringLiteral("/dev")).toStdString();
    roots.sysClassTty = (m_dir.path() + QStringLiteral("/sys/class/tty")).toStdString();
    return roots;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition())
    {
        if (deadline.hasExpired())
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ::poll(nullptr, 0, 1); // let other threads run between checks
    }
    return true;
}

std::string HexOf(const std::vector<std::uint8_t>& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes)
    {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 0x0F]);
    }
    return text;
}

std::vector<std::uint8_t> SeededBytes(std::size_t count, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}
