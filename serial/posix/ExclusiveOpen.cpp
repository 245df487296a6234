#include "serial/posix/ExclusiveOpen.h"

#include "serial/posix/TermiosMapping.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <string_view>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace
{

// Whether a /proc/locks field is the device "major:minor:inode" of the node (hex, hex,
// decimal, nothing else).
bool NamesNode(std::string_view field, const struct stat& node)
{
    const char* const end = field.data() + field.size();
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    auto r = std::from_chars(field.data(), end, major, 16);
    if (r.ec != std::errc() || r.ptr == end || *r.ptr != ':')
        return false;
    r = std::from_chars(r.ptr + 1, end, minor, 16);
    if (r.ec != std::errc() || r.ptr == end || *r.ptr != ':')
        return false;
    r = std::from_chars(r.ptr + 1, end, inode, 10);
    return r.ec == std::errc() && r.ptr == end && makedev(major, minor) == node.st_dev &&
           inode == node.st_ino;
}

// Whether /proc/locks lists a lock (flock, fcntl or open-file-description lock) on the node.
// Checked before opening, because opening a tty runs the driver's open, which raises DTR and
// RTS on the holder's line even when our flock is then refused. The receive worker gets here
// through the reopening after a hang-up, so the line is split without any hidden state.
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
        std::string_view rest = line;
        while (!held)
        {
            const std::size_t start = rest.find_first_not_of(" \n");
            if (start == std::string_view::npos)
                break;
            rest.remove_prefix(start);
            const std::string_view field = rest.substr(0, rest.find_first_of(" \n"));
            rest.remove_prefix(field.size());
            held = NamesNode(field, node);
        }
    }
    std::fclose(f);
    return held;
}

// Permission denied on the device node, with the advice its group allows: serial ports belong
// to dialout on Debian, but a udev rule may give a device another group, and joining root's is
// no advice at all.
std::string PermissionDenied(const struct stat& node)
{
    if (node.st_gid == 0)
        return "permission denied (the device belongs to the root group)";
    struct group entry;
    struct group* found = nullptr;
    char names[1024];
    if (::getgrgid_r(node.st_gid, &entry, names, sizeof names, &found) != 0 || found == nullptr)
        return "permission denied (the device belongs to group " + std::to_string(node.st_gid) +
               ")";
    return "permission denied (add the user to the " + std::string(found->gr_name) + " group)";
}

bool IsPtySlave(dev_t rdev)
{
    // Unix98 slaves (/dev/pts/N) use majors 136 to 143; legacy BSD slaves major 3.
    const unsigned m = major(rdev);
    return (m >= 136 && m <= 143) || m == 3;
}

} // namespace

std::string ReasonOf(int err)
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
        return "permission denied";
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

int OpenExclusive(const std::string& path, bool* onPty, std::string* whyNot)
{
    auto fail = [&](const std::string& reason)
    {
        *whyNot = path + ": " + reason;
        return -1;
    };
    struct stat node;
    if (::stat(path.c_str(), &node) != 0)
        return fail(ReasonOf(errno));
    if (!S_ISCHR(node.st_mode))
        return fail("not a serial device");
    if (LockedByAnother(node))
        return fail(ReasonOf(EBUSY));
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(errno == EACCES || errno == EPERM ? PermissionDenied(node) : ReasonOf(errno));
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
        return refuse(ReasonOf(errno == ENOTTY || errno == EINVAL ? ENOTTY : errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return refuse(ReasonOf(errno));
    // Root passes TIOCEXCL, so look whether another opener has set it.
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive)
        return refuse(ReasonOf(EBUSY));
    // Keeps other non-root openers out; devices without the flag answer ENOTTY or EINVAL.
    ::ioctl(fd, TIOCEXCL);
    *onPty = IsPtySlave(opened.st_rdev);
    return fd;
}

Tty::~Tty()
{
    // TIOCEXCL outlives the descriptor while another opener (a pseudo-terminal's far end) keeps
    // the tty alive; and without the flush close() waits up to 30 s for output that a stalled
    // line cannot send. Both fail harmlessly after a hang-up. A pseudo-terminal's output is
    // already in its far end's input, where flushing it would throw away what was counted as
    // sent; its close does not wait, so only the input is flushed there.
    ::ioctl(fd, TIOCNXCL);
    ::tcflush(fd, onPty ? TCIFLUSH : TCIOFLUSH);
    ::close(fd);
}
