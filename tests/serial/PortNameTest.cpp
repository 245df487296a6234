#include "serial/PortName.h"

#include "PtyFixture.h"

#include <array>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace
{

// Virtual consoles and the like, placeholder ttyS ports, then real ports out of order; ttyS0
// and ttyS2 have a UART behind them.
void AddPorts(const TempTree& tree)
{
    const std::string sys = tree.Roots().sysClassTty + "/";
    for (const char* name : {"tty", "tty0", "tty1", "console", "ptmx"})
        fs::create_directories(sys + name);
    for (const char* name : {"ttyS1", "ttyS3", "ttyS2", "ttyS0", "ttyUSB10", "ttyUSB2", "ttyUSB0",
                             "ttyACM0", "ttyAMA0", "rfcomm0"})
    {
        fs::create_directories(sys + name + "/device");
        fs::create_directory_symlink(sys, sys + name + "/device/driver");
        std::ofstream(sys + name + "/type") << (name[4] == '0' || name[4] == '2' ? "4\n" : "0\n");
    }
}

} // namespace

TEST(PortNameTest, NumbersThePortsPresentInGroupAndNumberOrder)
{
    TempTree tree;
    AddPorts(tree);
    const std::string dev = tree.Roots().dev + "/";
    const char* expected[] = {"ttyS0",    "ttyS2",   "ttyUSB0", "ttyUSB2",
                              "ttyUSB10", "ttyACM0", "rfcomm0", "ttyAMA0"};
    for (int n = 1; n <= 8; ++n)
        EXPECT_EQ(ResolvePortName("COM" + std::to_string(n), tree.Roots()), dev + expected[n - 1]);
    EXPECT_EQ(ResolvePortName("COM9", tree.Roots()), "");

    // An entry under the COM name wins, even a dangling link, and moves no other number.
    tree.Link("COM3", "/nonexistent/ttyUSB7");
    EXPECT_EQ(CSerialPort(tree.Roots()).DescribePort(3), dev + "COM3");
    EXPECT_EQ(CSerialPort(tree.Roots()).DescribePort(4), dev + "ttyUSB2");
    for (const char* name : {"COM0", "COM-1", "COM01", "COM", "COM1x", "com1", "COM99999999999"})
        EXPECT_EQ(ResolvePortName(name, tree.Roots()), "") << name;
    EXPECT_EQ(ResolvePortName("COM1", {tree.dir + "/dev", tree.dir + "/missing"}), "");
}

TEST(PortNameTest, TheSystemConsoleCountsAfterEveryOtherPortAndSaysSo)
{
    struct Row
    {
        const char* name;
        const char* active; // the kernel's console list
        std::array<const char*, 8> order;
    } rows[] = {
        {"serial console on the first UART, beside a virtual console",
         "tty0 ttyS0\n",
         {"ttyS2", "ttyUSB0", "ttyUSB2", "ttyUSB10", "ttyACM0", "rfcomm0", "ttyAMA0", "ttyS0"}},
        {"serial console on a USB adapter",
         "ttyUSB2\n",
         {"ttyS0", "ttyS2", "ttyUSB0", "ttyUSB10", "ttyACM0", "rfcomm0", "ttyAMA0", "ttyUSB2"}},
    };
    for (const Row& r : rows)
    {
        SCOPED_TRACE(r.name);
        TempTree tree;
        AddPorts(tree);
        std::ofstream(tree.Roots().sysClassTty + "/console/active") << r.active;
        const std::string dev = tree.Roots().dev + "/";
        const CSerialPort port(tree.Roots());
        for (int n = 1; n <= 8; ++n)
        {
            SCOPED_TRACE("COM" + std::to_string(n));
            const std::string path = port.DescribePort(n);
            EXPECT_EQ(path, dev + r.order[n - 1]);
            EXPECT_EQ(port.IsSystemConsole(path), n == 8);
        }

        // A COMn link to the console still wins, and still says where it leads.
        std::ofstream(dev + r.order[7]);
        tree.Link("COM1", dev + r.order[7]);
        EXPECT_EQ(port.DescribePort(1), dev + "COM1");
        EXPECT_TRUE(port.IsSystemConsole(port.DescribePort(1)));
    }
}

TEST(PortNameTest, AUsbAdapterIsKnownByItsSerialNumberOrPortWhateverNodeItHas)
{
    TempTree tree;
    const SerialDeviceRoots roots = tree.Roots();
    // Adapter ttyUSB1 has a serial number, ttyUSB0 none; ttyS0 is a UART on no USB bus.
    const std::string devices = tree.dir + "/devices/";
    const auto add = [&](const std::string& tty, const std::string& parent)
    {
        fs::create_directories(devices + parent + "/" + tty);
        fs::create_directories(roots.sysClassTty + "/" + tty);
        fs::create_directory_symlink(devices + parent + "/" + tty,
                                     roots.sysClassTty + "/" + tty + "/device");
        std::ofstream(roots.dev + "/" + tty);
    };
    add("ttyUSB0", "usb1/1-1/1-1:1.0");
    add("ttyUSB1", "usb1/1-2/1-2:1.0");
    add("ttyS0", "pnp0/00:01");
    for (const char* usb : {"usb1", "usb1/1-1", "usb1/1-2"})
    {
        std::ofstream(devices + usb + "/busnum") << "1\n";
        std::ofstream(devices + usb + "/devnum") << "2\n";
    }
    std::ofstream(devices + "usb1/1-2/serial") << "A50285BI\n";
    tree.Link("COM1", roots.dev + "/ttyUSB1");

    EXPECT_EQ(AdapterIdentity(roots.dev + "/COM1", roots), "serial A50285BI");
    EXPECT_EQ(AdapterIdentity(roots.dev + "/ttyUSB0", roots), "port 1-1");
    EXPECT_EQ(AdapterIdentity(roots.dev + "/ttyS0", roots), "");
    EXPECT_EQ(AdapterIdentity(roots.dev + "/ttyUSB7", roots), "");
    EXPECT_EQ(FindAdapter("serial A50285BI", roots.dev, roots), roots.dev + "/ttyUSB1");
    EXPECT_EQ(FindAdapter("port 1-1", roots.dev, roots), roots.dev + "/ttyUSB0");
    EXPECT_EQ(FindAdapter("serial AAAA", roots.dev, roots), "");
    EXPECT_EQ(FindAdapter("", roots.dev, roots), "");
}
