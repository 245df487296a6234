#include "serial/SerialDevice.h"

#include "serial/DcbValidation.h"
#include "serial/LineSettings.h"
#include "serial/LineTime.h"
#include "serial/PortName.h"
#include "serial/posix/ExclusiveOpen.h"
#include "serial/posix/TermiosMapping.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <linux/serial.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace
{

using Clock = std::chrono::steady_clock;

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

// Where a port was found: its name, the path that name resolved to, and for a USB adapter its
// identity and the folder of its device node.
struct PortPlace
{
    std::string name;
    SerialDeviceRoots roots;
    std::string path;
    std::string identity;
    std::string nodeDir;
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

// Bits a byte takes on the line at these settings: start bit, data bits, parity bit, stop bits
// (1.5 stop bits, with 5 data bits, count as 2).
unsigned FrameBitsOf(const termios2& t)
{
    const tcflag_t size = t.c_cflag & CSIZE;
    const unsigned data = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    return 1 + data + ((t.c_cflag & PARENB) ? 1 : 0) + ((t.c_cflag & CSTOPB) ? 2 : 1);
}

class PosixSerialDevice final : public SerialDevice
{
  public:
    PosixSerialDevice(PortPlace place, std::shared_ptr<Tty> tty, const termios2& applied, int wake)
        : m_place(std::move(place)), m_wake(wake), m_path(m_place.path), m_link(LinkAt(m_path)),
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

    DeviceStatus SetState(const DCB& dcb, std::string* whyNot) override
    {
        const DeviceStatus valid = ValidateDcb(dcb, whyNot);
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
        const DeviceStatus applied = Apply(*tty, want, whyNot);
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

    std::chrono::milliseconds WriteWait(std::uint32_t count) const override
    {
        std::lock_guard lock(m_mx);
        return WriteBound(count, BaudRateOf(m_inForce.termios), FrameBitsOf(m_inForce.termios),
                          m_timeouts.WriteTotalTimeoutConstant);
    }

    std::chrono::milliseconds DrainWait(std::uint32_t queued) const override
    {
        std::lock_guard lock(m_mx);
        return DrainBound(queued, BaudRateOf(m_inForce.termios), FrameBitsOf(m_inForce.termios));
    }

    DeviceStatus WriteQueued(const void* buffer, std::uint32_t count,
                             std::uint32_t* countWritten) override
    {
        *countWritten = 0;
        if (count == 0)
            return DeviceStatus::Ok;
        const auto tty = Current();
        if (!tty)
            return DeviceStatus::Gone;
        for (;;)
        {
            const ssize_t n = ::write(tty->fd, buffer, count);
            if (n >= 0)
            {
                *countWritten = static_cast<std::uint32_t>(n);
                return DeviceStatus::Ok;
            }
            if (errno == EAGAIN)
                return DeviceStatus::Ok;
            if (errno != EINTR)
                return Fail(tty, errno);
        }
    }

    DeviceStatus WaitForRoom(Clock::time_point deadline) override
    {
        const auto tty = Current();
        if (!tty)
            return DeviceStatus::Gone;
        for (;;)
        {
            pollfd p[2] = {{tty->fd, POLLOUT, 0}, {m_wake, POLLIN, 0}};
            if (PollUntil(p, 2, deadline) < 0)
                return DeviceStatus::Failed;
            if (p[1].revents)
                return DeviceStatus::Cancelled;
            if (p[0].revents & (POLLHUP | POLLERR))
                return Fail(tty, EIO);
            if (p[0].revents & POLLNVAL)
                return DeviceStatus::Failed;
            if (p[0].revents & POLLOUT)
                return DeviceStatus::Ok;
            if (Clock::now() >= deadline)
                return DeviceStatus::TimedOut;
        }
    }

    DeviceStatus OutputQueued(std::uint32_t* queued) override
    {
        *queued = 0;
        const auto tty = Current();
        if (!tty)
            return DeviceStatus::Gone;
        int bytes = 0;
        if (::ioctl(tty->fd, TIOCOUTQ, &bytes) != 0)
            return Fail(tty, errno);
        *queued = static_cast<std::uint32_t>(std::max(bytes, 0));
        return DeviceStatus::Ok;
    }

    DeviceStatus WaitUntilSent(Clock::time_point deadline, bool wakeable,
                               std::uint32_t* stillQueued) override
    {
        // There is no poll event for an empty output queue: look, then sleep about as long as
        // the queued bytes need on the line, at most a short step, and look again.
        constexpr std::chrono::milliseconds kLongestStep{20};
        for (;;)
        {
            std::uint32_t queued = 0;
            const DeviceStatus looked = OutputQueued(&queued);
            if (looked != DeviceStatus::Ok)
                return looked;
            *stillQueued = queued;
            if (queued == 0)
                return DeviceStatus::Ok;
            if (Clock::now() >= deadline)
                return DeviceStatus::TimedOut;
            const auto tty = Current();
            if (!tty)
                return DeviceStatus::Gone;
            std::chrono::milliseconds step;
            {
                std::lock_guard lock(m_mx);
                step = LineTime(*stillQueued, BaudRateOf(m_inForce.termios),
                                FrameBitsOf(m_inForce.termios));
            }
            step = std::clamp(step, std::chrono::milliseconds(1), kLongestStep);
            // No events asked of the port: poll still reports a hang-up on it.
            pollfd p[2] = {{tty->fd, 0, 0}, {m_wake, POLLIN, 0}};
            if (PollUntil(p, wakeable ? 2 : 1, std::min(deadline, Clock::now() + step)) < 0)
                return DeviceStatus::Failed;
            if (wakeable && p[1].revents)
                return DeviceStatus::Cancelled;
            if (p[0].revents & (POLLHUP | POLLERR))
                return Fail(tty, EIO);
            if (p[0].revents & POLLNVAL)
                return DeviceStatus::Failed;
        }
    }

    // Between the look at the queue and the flush the line may take a few more bytes, counted
    // then as discarded though they left. This runs when the line has stopped (flow control
    // holds it, or the device does not read), so in practice none do; stopping the output
    // (TCOOFF) around the two would close the gap but could restart a line the device has
    // stopped with XOFF.
    DeviceStatus DiscardQueued(std::uint32_t* discarded) override
    {
        const DeviceStatus looked = OutputQueued(discarded);
        if (looked != DeviceStatus::Ok)
            return looked;
        const auto tty = Current();
        if (!tty)
            return DeviceStatus::Gone;
        if (::ioctl(tty->fd, TCFLSH, TCOFLUSH) != 0)
            return Fail(tty, errno);
        return DeviceStatus::Ok;
    }

    std::uint32_t HeldByTransmitter() override
    {
        const auto tty = Current();
        unsigned int lsr = 0;
        if (!tty || ::ioctl(tty->fd, TIOCSERGETLSR, &lsr) != 0 || (lsr & TIOCSER_TEMT))
            return 0;
        serial_struct info{};
        if (::ioctl(tty->fd, TIOCGSERIAL, &info) == 0 && info.xmit_fifo_size > 0)
            return static_cast<std::uint32_t>(info.xmit_fifo_size);
        return 1;
    }

    void Wake() override { ::eventfd_write(m_wake, 1); }

    std::string Path() const override
    {
        std::lock_guard lock(m_mx);
        return m_path;
    }

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

    // Looks, at most once per look interval, whether the device is back, and if so reopens it
    // exclusively with the settings and modem lines last asked for. A USB adapter is known by
    // its identity: a node freed by its unplug goes to the next adapter plugged in, which must
    // never get this port's settings and output, while the adapter itself may come back under
    // another number. Any other device must be at the same path under the same name again; a
    // pseudo-terminal never comes back, since its number goes to the next one opened by
    // anybody, so for one only a link made anew under the name counts.
    std::shared_ptr<Tty> LookAgain()
    {
        std::string path = Path();
        LinkId link = LinkAt(path);
        {
            std::lock_guard lock(m_mx);
            const auto now = Clock::now();
            if (now < m_nextLook || (m_onPty && link == m_link))
                return nullptr;
            m_nextLook = now + LookInterval();
        }
        if (!m_place.identity.empty())
        {
            if (AdapterIdentity(path, m_place.roots) != m_place.identity)
                path = FindAdapter(m_place.identity, m_place.nodeDir, m_place.roots);
            if (path.empty())
                return nullptr;
            link = LinkAt(path);
        }
        else
        {
            struct stat st;
            if (::stat(path.c_str(), &st) != 0 ||
                ResolvePortName(m_place.name, m_place.roots) != path)
                return nullptr;
        }
        std::string whyNot;
        bool onPty = false;
        const int fd = OpenExclusive(path, &onPty, &whyNot);
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
        const bool tookWanted = wanted && Apply(*tty, *wanted, nullptr) == DeviceStatus::Ok;
        if (!tookWanted && Apply(*tty, inForce, nullptr) != DeviceStatus::Ok)
            return nullptr;
        std::lock_guard lock(m_mx);
        if (m_tty)
            return m_tty;
        if (tookWanted)
            m_inForce = *wanted;
        m_wanted.reset();
        m_tty = tty;
        m_path = path;
        m_link = link;
        m_onPty = onPty;
        return tty;
    }

    // Applies a record, checks what the device kept, then drives DTR and RTS (left to the
    // driver under RTS handshake). Devices without modem lines answer ENOTTY or EINVAL; the
    // rest of the record still applies there. A refusal is told in *whyNot, when given: what the
    // driver changed in the record is what the device cannot do.
    DeviceStatus Apply(const Tty& tty, const Settings& want, std::string* whyNot)
    {
        termios2 got;
        if (::ioctl(tty.fd, TCSETS2, &want.termios) != 0 || ::ioctl(tty.fd, TCGETS2, &got) != 0)
        {
            const int err = errno;
            if (whyNot)
                *whyNot =
                    std::string("the device refused these settings (") + std::strerror(err) + ")";
            return err == EIO ? DeviceStatus::Gone : DeviceStatus::NotSupported;
        }
        if (!KeptAsAsked(want.termios, got, tty.onPty))
        {
            if (whyNot)
            {
                DCB made = want.dcb;
                DcbFromTermios(got, want.lines, &made);
                const std::string cannot = SettingsThatDiffer(want.dcb, made);
                *whyNot = cannot.empty() ? "the device did not keep these settings"
                                         : "the device cannot do " + cannot;
            }
            return DeviceStatus::NotSupported;
        }
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
    std::string m_path;      // where the device is, or was last
    LinkId m_link;
    bool m_onPty;
    std::shared_ptr<Tty> m_tty;       // null from a hang-up until the device is back
    Settings m_inForce;               // applied last, or at the open
    std::optional<Settings> m_wanted; // asked for while the device was away
    COMMTIMEOUTS m_timeouts;
    Clock::time_point m_nextLook;
};

} // namespace

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
        return fail(ReasonOf(errno));
    const termios2 raw = RawMode(current);
    termios2 got;
    if (::ioctl(fd, TCSETS2, &raw) != 0 || ::ioctl(fd, TCGETS2, &got) != 0)
        return fail(ReasonOf(errno));
    if (!KeptAsAsked(raw, got, onPty))
    {
        ::ioctl(fd, TCSETS2, &current);
        return fail("does not take raw binary mode");
    }
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0)
        return fail(ReasonOf(errno));
    std::error_code unresolved;
    const std::filesystem::path node = std::filesystem::canonical(path, unresolved);
    PortPlace place{name, roots, path, AdapterIdentity(path, roots),
                    unresolved ? std::string() : node.parent_path().string()};
    return std::make_unique<PosixSerialDevice>(std::move(place), std::move(tty), raw, wake);
}
