#include "serial/PortName.h"

#include "PtyFixture.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST(PortNameTest, NumbersThePortsPresentInGroupAndNumberOrder)
{
    TempTree tree;
    const std::string sys = tree.Roots().sysClassTty + "/";
    // Virtual consoles and the like, placeholder ttyS ports, then real ports out of order.
    for (const char* name : {"tty", "tty0", "tty1", "console", "ptmx"})
        fs::create_directories(sys + name);
    for (const char* name : {"ttyS1", "ttyS3", "ttyS2", "ttyS0", "ttyUSB10", "ttyUSB2", "ttyUSB0",
                             "ttyACM0", "ttyAMA0", "rfcomm0"})
    {
        fs::create_directories(sys + name + "/device");
        fs::create_directory_symlink(sys, sys + name + "/device/driver");
        std::ofstream(sys + name + "/type") << (name[4] == '0' || name[4] == '2' ? "4\n" : "0\n");
    }
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
