#include "serial/SerialDevice.h"

#include "serial/posix/TermiosMapping.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

struct SpeedCode
{
    speed_t code;
    std::uint32_t rate;
};

constexpr SpeedCode kSpeeds[] = {
    {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
    {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
    {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
    {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
    {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
    {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
    {B3500000, 3500000}, {B4000000, 4000000},
};

void SetRate(termios2* t, std::uint32_t rate)
{
    // CIBAUD 0: the input rate follows the output rate.
    t->c_cflag &= ~(CBAUD | CIBAUD);
    const auto* s = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                                 [&](const SpeedCode& c) { return c.rate == rate; });
    t->c_cflag |= s != std::end(kSpeeds) ? s->code : kBother;
    t->c_ispeed = rate;
    t->c_ospeed = rate;
}

std::string Join(const std::string& dir, const std::string& name)
{
    return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

// "COM" followed by a decimal number from 1 up, with no sign and no leading zero; else 0.
int PortNumberOf(const std::string& name)
{
    if (name.size() < 4 || name.compare(0, 3, "COM") != 0 || name[3] == '0')
        return 0;
    long long n = 0;
    for (std::size_t i = 3; i < name.size(); ++i)
    {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        n = n * 10 + (name[i] - '0');
        if (n > INT_MAX)
            return 0;
    }
    return static_cast<int>(n);
}

struct PortEntry
{
    int group;
    std::string prefix;
    long number;
    std::string name;
};

bool PathExists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// ttyS nodes exist for every possible 8250 port; only those with a UART behind them have a
// "type" other than 0 (PORT_UNKNOWN).
bool HasUart(const std::string& sysEntry)
{
    FILE* f = std::fopen(Join(sysEntry, "type").c_str(), "re");
    if (!f)
        return false;
    int type = 0;
    const bool read = std::fscanf(f, "%d", &type) == 1;
    std::fclose(f);
    return read && type != 0;
}

// The serial ports present, in the order that numbers them COM1, COM2, ...: ttyS with a UART,
// ttyUSB, ttyACM, then other drivers' ports. Virtual consoles and pseudo-terminals have no
// device/driver link, so they never count.
std::vector<std::string> SerialPortsPresent(const SerialDeviceRoots& roots)
{
    std::vector<PortEntry> ports;
    DIR* dir = ::opendir(roots.sysClassTty.c_str());
    if (!dir)
        return {};
    while (const dirent* e = ::readdir(dir))
    {
        const std::string name = e->d_name;
        if (name.empty() || name[0] == '.')
            continue;
        std::size_t digits = name.size();
        while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9')
            --digits;
        const std::string prefix = name.substr(0, digits);
        const long number =
            digits < name.size() && name.size() - digits < 10 ? std::stol(name.substr(digits)) : -1;
        const std::string sysEntry = Join(roots.sysClassTty, name);
        int group = -1;
        if (prefix == "ttyS")
            group = number >= 0 && HasUart(sysEntry) ? 0 : -1;
        else if (prefix == "ttyUSB" && number >= 0)
            group = 1;
        else if (prefix == "ttyACM" && number >= 0)
            group = 2;
        else if (PathExists(Join(Join(sysEntry, "device"), "driver")))
            group = 3;
        if (group >= 0)
            ports.push_back({group, prefix, number, name});
    }
    ::closedir(dir);
    std::sort(ports.begin(), ports.end(),
              [](const PortEntry& a, const PortEntry& b)
              {
                  return std::tie(a.group, a.prefix, a.number, a.name) <
                         std::tie(b.group, b.prefix, b.number, b.name);
              });
    std::vector<std::string> names;
    for (const PortEntry& p : ports)
        names.push_back(p.name);
    return names;
}

std::string Reason(int err)
{
    switch (err)
    {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return "no such device";
    case EACCES:
    case EPERM:
        return "permission denied (add the user to the dialout group)";
    case EBUSY:
    case EWOULDBLOCK:
        return "in use by another program";
    case ENOTTY:
        return "not a serial device";
    default:
    {
        char text[128];
        return strerror_r(err, text, sizeof text);
    }
    }
}

// Whether /proc/locks lists a lock (flock, fcntl or open-file-description lock) on the node.
// Checked before opening, because opening a tty runs the driver's open, which raises DTR and
// RTS on the holder's line even when our flock is then refused.
bool LockedByAnother(const struct stat& node)
{
    FILE* f = std::fopen("/proc/locks", "re");
    if (!f)
        return false;
    bool held = false;
    char line[256];
    while (!held && std::fgets(line, sizeof line, f))
    {
        // "1: FLOCK  ADVISORY  WRITE 1234 00:19:3 0 EOF"; the device is "major:minor:inode".
        for (char* tok = std::strtok(line, " \n"); tok && !held; tok = std::strtok(nullptr, " \n"))
        {
            unsigned major = 0, minor = 0;
            unsigned long long inode = 0;
            int used = 0;
            if (std::count(tok, tok + std::strlen(tok), ':') == 2 &&
                std::sscanf(tok, "%x:%x:%llu%n", &major, &minor, &inode, &used) == 3 &&
                tok[used] == '\0')
                held = makedev(major, minor) == node.st_dev && inode == node.st_ino;
        }
    }
    std::fclose(f);
    return held;
}

bool IsPtySlave(dev_t rdev)
{
    // Unix98 slaves (/dev/pts/N) use majors 136 to 143; legacy BSD slaves major 3.
    const unsigned m = major(rdev);
    return (m >= 136 && m <= 143) || m == 3;
}

// Opens path read/write without becoming its controlling terminal, close-on-exec (a child
// process would otherwise inherit the descriptor and with it the flock), non-blocking (the
// open cannot wait for carrier, and every later wait is a poll that Wake can end). Refuses
// anything that is not a character device answering as a terminal, and a port held by another
// opener, without changing anything on it. Returns -1 with the reason in *whyNot.
int OpenExclusive(const std::string& path, bool* onPty, std::string* whyNot)
{
    auto fail = [&](const std::string& reason)
    {
        *whyNot = path + ": " + reason;
        return -1;
    };
    struct stat node;
    if (::stat(path.c_str(), &node) != 0)
        return fail(Reason(errno));
    if (!S_ISCHR(node.st_mode))
        return fail("not a serial device");
    if (LockedByAnother(node))
        return fail(Reason(EBUSY));
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(Reason(errno));
    auto refuse = [&](const std::string& reason)
    {
        ::close(fd);
        return fail(reason);
    };
    struct stat opened;
    termios2 t;
    if (::fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode) || opened.st_rdev != node.st_rdev)
        return refuse("not a serial device");
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return refuse(Reason(errno == ENOTTY || errno == EINVAL ? ENOTTY : errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return refuse(Reason(errno));
    // Root passes TIOCEXCL, so look whether another opener has set it.
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive)
        return refuse(Reason(EBUSY));
    // Keeps other non-root openers out; devices without the flag answer ENOTTY or EINVAL.
    ::ioctl(fd, TIOCEXCL);
    *onPty = IsPtySlave(opened.st_rdev);
    return fd;
}

// An open port. The descriptor is closed only when the last operation using it has let go, so
// no poll, read or write can ever land on a closed or reused descriptor number.
struct Tty
{
    int fd;
    bool onPty;

    Tty(int descriptor, bool pty) : fd(descriptor), onPty(pty) {}
    Tty(const Tty&) = delete;
    Tty& operator=(const Tty&) = delete;
    ~Tty()
    {
        // TIOCEXCL outlives the descriptor while another opener (a pseudo-terminal's far end)
        // keeps the tty alive; and without the flush close() waits up to 30 s for output that
        // a stalled line cannot send. Both fail harmlessly after a hang-up.
        ::ioctl(fd, TIOCNXCL);
        ::tcflush(fd, TCIOFLUSH);
        ::close(fd);
    }
};

constexpr std::chrono::milliseconds kWriteMargin{50};
// Fastest pace of looking for a device that went away, for read constants below it.
constexpr std::chrono::milliseconds kMinLookInterval{50};

// A port's settings: the record, the modem lines asked for, whether the driver owns RTS, and the
// DCB fields termios has no place for.
struct Settings
{
    termios2 termios{};
    ModemLines lines;
    bool rtsHandshake = false;
    DCB dcb;

    // `before` with a DCB that passed ValidateDcb applied on top of the record `current`.
    static Settings Of(const Settings& before, const DCB& dcb, const termios2& current)
    {
        Settings s = before;
        s.termios = TermiosFromDcb(dcb, current);
        s.rtsHandshake = dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
        s.lines.dtr = dcb.fDtrControl == DTR_CONTROL_ENABLE;
        if (!s.rtsHandshake) // the driver owns RTS under the handshake; the level asked stays
            s.lines.rts = dcb.fRtsControl == RTS_CONTROL_ENABLE;
        s.dcb = dcb;
        s.dcb.DCBlength = sizeof(DCB);
        return s;
    }
};

// Where a port was found: its name and the path that name resolved to.
struct PortPlace
{
    std::string name;
    SerialDeviceRoots roots;
    std::string path;
};

// The link at a path, to tell a link made anew from the old one; all 0 when the path is no
// link. The change time is part of it because file systems reuse a freed inode number at once.
using LinkId = std::tuple<dev_t, ino_t, time_t, long>;

LinkId LinkAt(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        return {st.st_dev, st.st_ino, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
    return {};
}

class PosixSerialDevice final : public SerialDevice
{
  public:
    PosixSerialDevice(PortPlace place, std::shared_ptr<Tty> tty, const termios2& applied, int wake)
        : m_place(std::move(place)), m_wake(wake), m_link(LinkAt(m_place.path)),
          m_onPty(tty->onPty), m_tty(std::move(tty))
    {
        m_inForce.termios = applied;
        m_inForce.rtsHandshake = (applied.c_cflag & CRTSCTS) != 0;
        m_inForce.dcb.fBinary = 1;
        m_timeouts.ReadIntervalTimeout = MAXDWORD;
    }

    ~PosixSerialDevice() override
    {
        m_tty.reset();
        ::close(m_wake);
    }

    bool SetupQueues(std::uint32_t, std::uint32_t) override { return true; }

    DeviceStatus GetState(DCB* dcb) override
    {
        if (!dcb)
            return DeviceStatus::InvalidParameter;
        const auto tty = Current();
        if (!tty)
        {
            // Away, the port still has settings: those the device will get back.
            std::lock_guard lock(m_mx);
            const Settings& back = m_wanted ? *m_wanted : m_inForce;
            DCB state = back.dcb;
            DcbFromTermios(back.termios, back.lines, &state);
            *dcb = state;
            return DeviceStatus::Ok;
        }
        termios2 t;
        if (::ioctl(tty->fd, TCGETS2, &t) != 0)
            return Fail(tty, errno);
        DCB state;
        ModemLines lines;
        {
            std::lock_guard lock(m_mx);
            state = m_inForce.dcb;
            lines = m_inForce.lines;
        }
        int bits = 0;
        if (::ioctl(tty->fd, TIOCMGET, &bits) == 0)
            lines = {(bits & TIOCM_DTR) != 0, (bits & TIOCM_RTS) != 0};
        else if (errno != ENOTTY && errno != EINVAL)
            return Fail(tty, errno);
        DcbFromTermios(t, lines, &state);
        *dcb = state;
        return DeviceStatus::Ok;
    }

    DeviceStatus SetState(const DCB& dcb) override
    {
        const DeviceStatus valid = ValidateDcb(dcb);
        if (valid != DeviceStatus::Ok)
            return valid;
        std::lock_guard config(m_config);
        const auto tty = Current();
        if (!tty)
        {
            // Not applied now, but what the user chose while the device was away is what it
            // gets when it is back (LookAgain runs under m_config too, so none is missed).
            std::lock_guard lock(m_mx);
            m_wanted = Settings::Of(m_wanted ? *m_wanted : m_inForce, dcb, m_inForce.termios);
            return DeviceStatus::Gone;
        }
        termios2 old;
        if (::ioctl(tty->fd, TCGETS2, &old) != 0)
            return Fail(tty, errno);
        Settings want;
        {
            std::lock_guard lock(m_mx);
            want = Settings::Of(m_inForce, dcb, old);
        }
        const DeviceStatus applied = Apply(*tty, want);
        if (applied != DeviceStatus::Ok)
        {
            ::ioctl(tty->fd, TCSETS2, &old);
            return applied == DeviceStatus::Gone ? Fail(tty, EIO) : applied;
        }
        std::lock_guard lock(m_mx);
        m_inForce = want;
        return DeviceStatus::Ok;
    }

    DeviceStatus SetTimeouts(const COMMTIMEOUTS& t) override
    {
        const bool readMode =
            t.ReadIntervalTimeout == MAXDWORD &&
            (t.ReadTotalTimeoutMultiplier == MAXDWORD ||
             (t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0));
        if (!readMode)
            return DeviceStatus::NotSupported;
        std::lock_guard lock(m_mx);
        m_timeouts = t;
        return DeviceStatus::Ok;
    }

    std::chrono::milliseconds ReadWait() const override
    {
        std::lock_guard lock(m_mx);
        return std::chrono::milliseconds(
            m_timeouts.ReadTotalTimeoutMultiplier == 0 ? 0 : m_timeouts.ReadTotalTimeoutConstant);
    }

    DeviceStatus WaitForInput(Clock::time_point deadline) override
    {
        auto tty = Current();
        if (!tty)
            tty = LookAgain();
        if (!tty)
            return WaitWhileGone(deadline);
        for (;;)
        {
            pollfd p[2] = {{tty->fd, POLLIN, 0}, {m_wake, POLLIN, 0}};
            if (PollUntil(p, 2, deadline) < 0)
                return DeviceStatus::Failed;
            if (p[1].revents)
                return DeviceStatus::Cancelled;
            if (p[0].revents & POLLIN)
                return DeviceStatus::Ok; // after a hang-up too: the read then sees it
            if (p[0].revents & (POLLHUP | POLLERR))
                return Fail(tty, EIO);
            if (p[0].revents & POLLNVAL)
                return DeviceStatus::Failed;
            if (Clock::now() >= deadline)
                return DeviceStatus::TimedOut;
        }
    }

    DeviceStatus ReadQueued(void* buffer, std::uint32_t count, std::uint32_t* countRead) override
    {
        *countRead = 0;
        if (count == 0)
            return DeviceStatus::Ok;
        const auto tty = Current();
        if (!tty)
            return DeviceStatus::Gone;
        for (;;)
        {
            const ssize_t n = ::read(tty->fd, buffer, count);
            if (n > 0)
            {
                *countRead = static_cast<std::uint32_t>(n);
                return DeviceStatus::Ok;
            }
            if (n == 0) // VMIN is 1, so only a hang-up reads nothing
                return Fail(tty, EIO);
            if (errno == EAGAIN)
                return DeviceStatus::Ok;
            if (errno != EINTR)
                return Fail(tty, errno);
        }
    }

    DeviceStatus Write(const void* buffer, std::uint32_t count,
                       std::uint32_t* countWritten) override
    {
        *countWritten = 0;
        if (count == 0)
            return DeviceStatus::Ok;
        const auto tty = Current();
        if (!tty)
            return DeviceStatus::Gone;
        const auto deadline = Clock::now() + WriteLimit(count);
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        while (*countWritten < count)
        {
            const ssize_t n = ::write(tty->fd, bytes + *countWritten, count - *countWritten);
            if (n > 0)
            {
                *countWritten += static_cast<std::uint32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN)
                return Fail(tty, errno);
            pollfd p[2] = {{tty->fd, POLLOUT, 0}, {m_wake, POLLIN, 0}};
            if (PollUntil(p, 2, deadline) < 0)
                return DeviceStatus::Failed;
            if (p[1].revents)
                return DeviceStatus::Cancelled;
            if (p[0].revents & (POLLHUP | POLLERR))
                return Fail(tty, EIO);
            if (p[0].revents & POLLNVAL)
                return DeviceStatus::Failed;
            if (!(p[0].revents & POLLOUT) && Clock::now() >= deadline)
                return DeviceStatus::TimedOut;
        }
        return DeviceStatus::Ok;
    }

    void Wake() override { ::eventfd_write(m_wake, 1); }

    std::string Path() const override { return m_place.path; }

    bool IsConnected() const override { return Current() != nullptr; }

  private:
    std::shared_ptr<Tty> Current() const
    {
        std::lock_guard lock(m_mx);
        return m_tty;
    }

    // EIO is how a hung-up tty answers everything: let go of it at once, which also releases
    // its flock and exclusive mode.
    DeviceStatus Fail(const std::shared_ptr<Tty>& tty, int err)
    {
        if (err != EIO)
            return DeviceStatus::Failed;
        std::lock_guard lock(m_mx);
        if (m_tty == tty)
        {
            m_tty.reset();
            m_nextLook = Clock::now() + LookInterval();
        }
        return DeviceStatus::Gone;
    }

    std::chrono::milliseconds LookInterval() const
    {
        return std::max(std::chrono::milliseconds(m_timeouts.ReadTotalTimeoutConstant),
                        kMinLookInterval);
    }

    // Looks, at most once per look interval, whether the name leads to a device at the same
    // path again, and if so reopens it exclusively with the settings and modem lines last
    // asked for. A pseudo-terminal never comes back: its number goes to the next one opened by
    // anybody, so for one only a link made anew under the name counts.
    std::shared_ptr<Tty> LookAgain()
    {
        const auto link = LinkAt(m_place.path);
        {
            std::lock_guard lock(m_mx);
            const auto now = Clock::now();
            if (now < m_nextLook || (m_onPty && link == m_link))
                return nullptr;
            m_nextLook = now + LookInterval();
        }
        struct stat st;
        if (::stat(m_place.path.c_str(), &st) != 0 ||
            ResolvePortName(m_place.name, m_place.roots) != m_place.path)
            return nullptr;
        std::string whyNot;
        bool onPty = false;
        const int fd = OpenExclusive(m_place.path, &onPty, &whyNot);
        if (fd < 0)
            return nullptr;
        auto tty = std::make_shared<Tty>(fd, onPty);
        std::lock_guard config(m_config);
        Settings inForce;
        std::optional<Settings> wanted;
        {
            std::lock_guard lock(m_mx);
            inForce = m_inForce;
            wanted = m_wanted;
        }
        // Settings chosen while the device was away come first; if the device refuses them it
        // gets back the ones it had, as when a change is refused while it is there.
        const bool tookWanted = wanted && Apply(*tty, *wanted) == DeviceStatus::Ok;
        if (!tookWanted && Apply(*tty, inForce) != DeviceStatus::Ok)
            return nullptr;
        std::lock_guard lock(m_mx);
        if (m_tty)
            return m_tty;
        if (tookWanted)
            m_inForce = *wanted;
        m_wanted.reset();
        m_tty = tty;
        m_link = link;
        m_onPty = onPty;
        return tty;
    }

    // Applies a record, checks what the device kept, then drives DTR and RTS (left to the
    // driver under RTS handshake). Devices without modem lines answer ENOTTY or EINVAL; the
    // rest of the record still applies there.
    DeviceStatus Apply(const Tty& tty, const Settings& want)
    {
        termios2 got;
        if (::ioctl(tty.fd, TCSETS2, &want.termios) != 0 || ::ioctl(tty.fd, TCGETS2, &got) != 0)
            return errno == EIO ? DeviceStatus::Gone : DeviceStatus::NotSupported;
        if (!KeptAsAsked(want.termios, got, tty.onPty))
            return DeviceStatus::NotSupported;
        auto drive = [&](int bit, bool on)
        {
            if (::ioctl(tty.fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0 || errno == ENOTTY ||
                errno == EINVAL)
                return DeviceStatus::Ok;
            return errno == EIO ? DeviceStatus::Gone : DeviceStatus::Failed;
        };
        const DeviceStatus dtr = drive(TIOCM_DTR, want.lines.dtr);
        if (dtr != DeviceStatus::Ok || want.rtsHandshake)
            return dtr;
        return drive(TIOCM_RTS, want.lines.rts);
    }

    std::chrono::milliseconds WriteLimit(std::uint32_t count) const
    {
        std::uint64_t constant = 0;
        std::uint64_t rate = 0;
        {
            std::lock_guard lock(m_mx);
            constant = m_timeouts.WriteTotalTimeoutConstant;
            rate = BaudRateOf(m_inForce.termios);
        }
        rate = std::max<std::uint64_t>(rate, kMinBaudRate);
        const std::uint64_t lineMs = (std::uint64_t{count} * 10 * 1000 + rate - 1) / rate;
        return std::chrono::milliseconds(constant + lineMs) + kWriteMargin;
    }

    // poll until the deadline, retrying EINTR with the time that is left. The wait is rounded up
    // to whole milliseconds, so a remainder below one cannot turn into a busy loop.
    static int PollUntil(pollfd* fds, nfds_t count, Clock::time_point deadline)
    {
        for (;;)
        {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            const auto ms = std::clamp<long long>(left.count(), 0, INT_MAX);
            const int r = ::poll(fds, count, static_cast<int>(ms));
            if (r >= 0 || errno != EINTR)
                return r;
        }
    }

    // Without a device a read waits out its time-out (so a caller that loops does not spin),
    // ending early only for Wake.
    DeviceStatus WaitWhileGone(Clock::time_point deadline)
    {
        pollfd p = {m_wake, POLLIN, 0};
        do
        {
            if (PollUntil(&p, 1, deadline) < 0)
                return DeviceStatus::Failed;
            if (p.revents)
                return DeviceStatus::Cancelled;
        } while (Clock::now() < deadline);
        return DeviceStatus::Gone;
    }

    const PortPlace m_place;
    const int m_wake;        // eventfd in every poll set; Wake makes it readable for good
    std::mutex m_config;     // one apply-and-read-back sequence at a time
    mutable std::mutex m_mx; // guards the members below
    LinkId m_link;
    bool m_onPty;
    std::shared_ptr<Tty> m_tty;       // null from a hang-up until the device is back
    Settings m_inForce;               // applied last, or at the open
    std::optional<Settings> m_wanted; // asked for while the device was away
    COMMTIMEOUTS m_timeouts;
    Clock::time_point m_nextLook;
};

} // namespace

std::uint32_t BaudRateOf(const termios2& t)
{
    const tcflag_t code = t.c_cflag & CBAUD;
    if (code == kBother)
        return t.c_ospeed;
    const auto* s = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                                 [&](const SpeedCode& c) { return c.code == code; });
    return s != std::end(kSpeeds) ? s->rate : 0;
}

termios2 RawMode(const termios2& current)
{
    termios2 t = current;
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag &= CBAUD | CIBAUD | CSTOPB | CRTSCTS | HUPCL;
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return t;
}

termios2 TermiosFromDcb(const DCB& dcb, const termios2& current)
{
    termios2 t = current;
    t.c_iflag = (dcb.fOutX ? IXON : 0) | (dcb.fInX ? IXOFF : 0);
    t.c_oflag = 0;
    t.c_lflag = 0;
    tcflag_t c = (current.c_cflag & HUPCL) | CREAD | CLOCAL;
    constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    c |= kSizes[std::clamp<int>(dcb.ByteSize, 5, 8) - 5];
    // CSTOPB is the UART's one stop-bit switch: 1.5 stop bits with 5 data bits, else 2.
    if (dcb.StopBits != ONESTOPBIT)
        c |= CSTOPB;
    constexpr tcflag_t kParity[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                                    PARENB | CMSPAR};
    c |= kParity[std::min<int>(dcb.Parity, SPACEPARITY)];
    if (dcb.fOutxCtsFlow)
        c |= CRTSCTS;
    t.c_cflag = c;
    SetRate(&t, dcb.BaudRate);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    return t;
}

void DcbFromTermios(const termios2& t, const ModemLines& lines, DCB* dcb)
{
    dcb->DCBlength = sizeof(DCB);
    dcb->BaudRate = BaudRateOf(t);
    dcb->fBinary = 1;
    const tcflag_t size = t.c_cflag & CSIZE;
    dcb->ByteSize = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    dcb->StopBits = !(t.c_cflag & CSTOPB) ? ONESTOPBIT
                    : dcb->ByteSize == 5  ? ONE5STOPBITS
                                          : TWOSTOPBITS;
    if (!(t.c_cflag & PARENB))
        dcb->Parity = NOPARITY;
    else if (t.c_cflag & CMSPAR)
        dcb->Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else
        dcb->Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    const bool rtsCts = (t.c_cflag & CRTSCTS) != 0;
    dcb->fOutxCtsFlow = rtsCts;
    dcb->fRtsControl = rtsCts      ? RTS_CONTROL_HANDSHAKE
                       : lines.rts ? RTS_CONTROL_ENABLE
                                   : RTS_CONTROL_DISABLE;
    dcb->fDtrControl = lines.dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb->fOutxDsrFlow = 0;
    dcb->fDsrSensitivity = 0;
    dcb->fErrorChar = 0;
    dcb->fNull = 0;
    dcb->fOutX = (t.c_iflag & IXON) != 0;
    dcb->fInX = (t.c_iflag & IXOFF) != 0;
    dcb->XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb->XoffChar = static_cast<char>(t.c_cc[VSTOP]);
}

bool KeptAsAsked(const termios2& asked, const termios2& got, bool onPty)
{
    tcflag_t shape = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CREAD | CLOCAL;
    if (onPty)
        shape &= ~(CSIZE | PARENB);
    if (((asked.c_cflag ^ got.c_cflag) & shape) || asked.c_iflag != got.c_iflag ||
        asked.c_oflag != got.c_oflag || asked.c_lflag != got.c_lflag)
        return false;
    for (int i : {VMIN, VTIME, VSTART, VSTOP})
        if (asked.c_cc[i] != got.c_cc[i])
            return false;
    const std::uint64_t want = BaudRateOf(asked);
    const std::uint64_t have = BaudRateOf(got);
    return (want > have ? want - have : have - want) <= want / 50;
}

DeviceStatus ValidateDcb(const DCB& dcb)
{
    const bool invalid = dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.StopBits > TWOSTOPBITS ||
                         dcb.Parity > SPACEPARITY || dcb.BaudRate < kMinBaudRate ||
                         dcb.BaudRate > kMaxBaudRate ||
                         (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) ||
                         (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5) ||
                         ((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar) ||
                         dcb.fDtrControl > DTR_CONTROL_HANDSHAKE;
    if (invalid)
        return DeviceStatus::InvalidParameter;
    // Linux's CRTSCTS is RTS/CTS in both directions at once; DTR/DSR handshake, RTS toggling,
    // error-character replacement and NUL stripping have no termios counterpart.
    const bool unsupported = dcb.fDtrControl == DTR_CONTROL_HANDSHAKE || dcb.fOutxDsrFlow ||
                             dcb.fDsrSensitivity || dcb.fRtsControl == RTS_CONTROL_TOGGLE ||
                             dcb.fErrorChar || dcb.fNull ||
                             bool(dcb.fOutxCtsFlow) != (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE);
    return unsupported ? DeviceStatus::NotSupported : DeviceStatus::Ok;
}

std::string ResolvePortName(const std::string& name, const SerialDeviceRoots& roots)
{
    const int n = PortNumberOf(name);
    if (n <= 0)
        return {};
    // An entry under the COM name itself decides, even a dangling link: falling through to
    // the numbering would open some other port than the one meant.
    const std::string direct = Join(roots.dev, name);
    struct stat st;
    if (::lstat(direct.c_str(), &st) == 0)
        return direct;
    const std::vector<std::string> ports = SerialPortsPresent(roots);
    return static_cast<std::size_t>(n) <= ports.size() ? Join(roots.dev, ports[n - 1])
                                                       : std::string();
}

std::unique_ptr<SerialDevice>
SerialDevice::Open(const std::string& name, const SerialDeviceRoots& roots, std::string* whyNot)
{
    std::string reason;
    whyNot = whyNot ? whyNot : &reason;
    const std::string path = ResolvePortName(name, roots);
    if (path.empty())
    {
        *whyNot = name + ": no such device";
        return nullptr;
    }
    bool onPty = false;
    const int fd = OpenExclusive(path, &onPty, whyNot);
    if (fd < 0)
        return nullptr;
    // From here on the port is ours, and letting go of it clears the exclusive mode.
    auto tty = std::make_shared<Tty>(fd, onPty);
    auto fail = [&](const std::string& reason)
    {
        *whyNot = path + ": " + reason;
        return nullptr;
    };
    termios2 current;
    if (::ioctl(fd, TCGETS2, &current) != 0)
        return fail(Reason(errno));
    const termios2 raw = RawMode(current);
    termios2 got;
    if (::ioctl(fd, TCSETS2, &raw) != 0 || ::ioctl(fd, TCGETS2, &got) != 0)
        return fail(Reason(errno));
    if (!KeptAsAsked(raw, got, onPty))
    {
        ::ioctl(fd, TCSETS2, &current);
        return fail("does not take raw binary mode");
    }
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0)
        return fail(Reason(errno));
    return std::make_unique<PosixSerialDevice>(PortPlace{name, roots, path}, std::move(tty), raw,
                                               wake);
}
