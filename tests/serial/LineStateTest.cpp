#include "PtyFixture.h"
#include "serial/LineSettings.h"

#include <cstring>

using LineStateTest = PortTest;

TEST_F(LineStateTest, EveryRateAndWhatAPseudoTerminalKeepsReachTheDevice)
{
    ASSERT_TRUE(OpenWithDefaults());
    DCB dcb;
    ASSERT_TRUE(port.GetState(&dcb));
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_ENABLE);
    dcb.DCBlength = 5;
    EXPECT_TRUE(port.SetState(dcb));
    EXPECT_EQ(dcb.DCBlength, 5u); // the caller's record keeps its length
    for (std::size_t i = 0; i < g_baudRates.size(); ++i)
    {
        ASSERT_TRUE(Apply(static_cast<int>(i), 3, 0, 0, kFlowNone));
        ASSERT_TRUE(port.GetState(&dcb));
        EXPECT_EQ(dcb.BaudRate, g_baudRates[i]);
        EXPECT_EQ(BaudRateOf(pty.Settings()), g_baudRates[i]);
    }
    ASSERT_TRUE(Apply(1, 3, 2, 0, kFlowHardware));
    EXPECT_EQ(pty.Settings().c_cflag & (CSTOPB | CRTSCTS), tcflag_t{CSTOPB | CRTSCTS});
    ASSERT_TRUE(Apply(1, 3, 0, 0, kFlowSoftware));
    const termios2 t = pty.Settings();
    EXPECT_EQ(t.c_cflag & (CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag, tcflag_t{IXON | IXOFF});
    EXPECT_EQ(t.c_cc[VSTART], cc_t{0x11});
    EXPECT_EQ(t.c_cc[VSTOP], cc_t{0x13});
    ASSERT_TRUE(port.GetState(&dcb));
    EXPECT_TRUE(dcb.fOutX && dcb.fInX && !dcb.fOutxCtsFlow && dcb.StopBits == ONESTOPBIT);
    // A pseudo-terminal has no wire to frame: it keeps 8 bits without parity, and says so.
    ASSERT_TRUE(Apply(1, 2, 0, 2, kFlowNone));
    ASSERT_TRUE(port.GetState(&dcb));
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
}

TEST_F(LineStateTest, ARejectedRecordChangesNothingOnTheDevice)
{
    ASSERT_TRUE(OpenWithDefaults());
    ASSERT_TRUE(Apply(3, 3, 2, 0, kFlowHardware));
    const termios2 before = pty.Settings();
    DCB good;
    ASSERT_TRUE(port.GetState(&good));
    for (auto change : {+[](DCB& d) { d.ByteSize = 5; }, // with 2 stop bits
                        +[](DCB& d) { d.StopBits = ONE5STOPBITS; }, +[](DCB& d) { d.ByteSize = 9; },
                        +[](DCB& d) { d.Parity = 5; }, +[](DCB& d) { d.BaudRate = 0; },
                        +[](DCB& d) { d.fOutX = 1, d.XonChar = d.XoffChar; },
                        +[](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; }})
    {
        DCB d = good;
        change(d);
        EXPECT_FALSE(port.SetState(d));
    }
    const termios2 after = pty.Settings();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
    DCB now;
    ASSERT_TRUE(port.GetState(&now));
    EXPECT_EQ(std::memcmp(&now, &good, sizeof now), 0);
}
