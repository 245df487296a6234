#include "serial/PortName.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>
#include <tuple>
#include <vector>

namespace
{

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
    bool console;
    int group;
    std::string prefix;
    long number;
    std::string name;
};

bool PathExists(const std::filesystem::path& path)
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

// The names of the ttys the kernel writes its console to ("tty0 ttyS0"), read anew each time:
// the list changes only at boot, but reading it costs one small file.
std::vector<std::string> ConsoleNames(const SerialDeviceRoots& roots)
{
    std::vector<std::string> names;
    FILE* f = std::fopen(Join(Join(roots.sysClassTty, "console"), "active").c_str(), "re");
    if (!f)
        return names;
    char name[64];
    while (std::fscanf(f, "%63s", name) == 1)
        names.emplace_back(name);
    std::fclose(f);
    return names;
}

bool Contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The serial ports present, in the order that numbers them COM1, COM2, ...: ttyS with a UART,
// ttyUSB, ttyACM, then other drivers' ports, and the system console after all of them. Virtual
// consoles and pseudo-terminals have no device/driver link, so they never count.
std::vector<std::string> SerialPortsPresent(const SerialDeviceRoots& roots)
{
    const std::vector<std::string> consoles = ConsoleNames(roots);
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
            ports.push_back({Contains(consoles, name), group, prefix, number, name});
    }
    ::closedir(dir);
    std::sort(ports.begin(), ports.end(),
              [](const PortEntry& a, const PortEntry& b)
              {
                  return std::tie(a.console, a.group, a.prefix, a.number, a.name) <
                         std::tie(b.console, b.group, b.prefix, b.number, b.name);
              });
    std::vector<std::string> names;
    for (const PortEntry& p : ports)
        names.push_back(p.name);
    return names;
}

// The first line of a small sysfs attribute, without its line end; empty when there is none.
std::string ReadAttribute(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "re");
    if (!f)
        return {};
    char line[256] = {};
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    std::string value = read ? line : "";
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
        value.pop_back();
    return value;
}

// The identity of the adapter behind the tty `name`: the USB device it hangs off is the nearest
// folder above its sysfs device that has a bus and a device number.
std::string IdentityOfTty(const std::string& name, const SerialDeviceRoots& roots)
{
    namespace fs = std::filesystem;
    std::error_code failed;
    fs::path dir = fs::canonical(Join(Join(roots.sysClassTty, name), "device"), failed);
    if (failed)
        return {};
    for (; dir.has_relative_path(); dir = dir.parent_path())
    {
        if (!PathExists(dir / "busnum") || !PathExists(dir / "devnum"))
            continue;
        const std::string serial = ReadAttribute(dir / "serial");
        return serial.empty() ? "port " + dir.filename().string() : "serial " + serial;
    }
    return {};
}

} // namespace

std::string AdapterIdentity(const std::string& path, const SerialDeviceRoots& roots)
{
    std::error_code unresolved;
    const std::filesystem::path node = std::filesystem::canonical(path, unresolved);
    return unresolved ? std::string() : IdentityOfTty(node.filename().string(), roots);
}

std::string FindAdapter(const std::string& identity, const std::string& nodeDir,
                        const SerialDeviceRoots& roots)
{
    if (identity.empty())
        return {};
    DIR* dir = ::opendir(roots.sysClassTty.c_str());
    if (!dir)
        return {};
    std::string found;
    while (const dirent* e = ::readdir(dir))
    {
        const std::string name = e->d_name;
        if (name.empty() || name[0] == '.' || IdentityOfTty(name, roots) != identity)
            continue;
        const std::string node = Join(nodeDir, name);
        if (PathExists(node))
        {
            found = node;
            break;
        }
    }
    ::closedir(dir);
    return found;
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

bool IsSystemConsole(const std::string& path, const SerialDeviceRoots& roots)
{
    if (path.empty())
        return false;
    // A link (such as /dev/COM1) counts as the device it leads to.
    std::error_code unresolved;
    const std::filesystem::path device = std::filesystem::canonical(path, unresolved);
    const std::filesystem::path named = unresolved ? std::filesystem::path(path) : device;
    return Contains(ConsoleNames(roots), named.filename().string());
}
