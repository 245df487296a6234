#include "serial/DcbValidation.h"
#include "serial/LineSettings.h"
#include "serial/posix/TermiosMapping.h"

#include <functional>
#include <gtest/gtest.h>

namespace
{

DCB Line(std::uint32_t baud, int size, int stop, int parity)
{
    DCB d;
    d.BaudRate = baud;
    d.ByteSize = static_cast<std::uint8_t>(size);
    d.StopBits = static_cast<std::uint8_t>(stop);
    d.Parity = static_cast<std::uint8_t>(parity);
    d.fDtrControl = d.fRtsControl = 1;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    return d;
}

// A port left cooked by a login shell or another program.
termios2 Cooked()
{
    termios2 t{};
    t.c_iflag = BRKINT | ICRNL | IXON | IXANY | IMAXBEL | INPCK | ISTRIP | PARMRK | IGNCR;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ISIG | ICANON | ECHO | IEXTEN;
    t.c_cflag = B9600 | CS7 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL;
    t.c_line = 3;
    t.c_cc[VTIME] = 5;
    t.c_cc[VINTR] = 3;
    return t;
}

DCB Back(const termios2& t, ModemLines lines = {})
{
    DCB d;
    DcbFromTermios(t, lines, &d);
    return d;
}

} // namespace

TEST(DcbTermiosTest, ValidationRefusesInvalidRecordsAndWhatLinuxCannotDo)
{
    for (const DCB& d : {Line(4800, 8, 0, 0), Line(14400, 5, 1, 3), Line(4000000, 6, 2, 4)})
        EXPECT_EQ(ValidateDcb(d), DeviceStatus::Ok);
    const DCB invalid[] = {Line(9600, 4, 0, 0), Line(9600, 9, 0, 0), Line(9600, 8, 3, 0),
                           Line(9600, 8, 0, 5), Line(0, 8, 0, 0),    Line(4000001, 8, 0, 0),
                           Line(9600, 5, 2, 0), Line(9600, 6, 1, 0), Line(9600, 8, 1, 0)};
    for (const DCB& d : invalid)
        EXPECT_EQ(ValidateDcb(d), DeviceStatus::InvalidParameter)
            << d.BaudRate << " " << +d.ByteSize << +d.StopBits << +d.Parity;
    using Change = std::function<void(DCB&)>;
    const auto check = [](const Change& change)
    {
        DCB d = Line(9600, 8, 0, 0);
        change(d);
        return ValidateDcb(d);
    };
    EXPECT_EQ(check([](DCB& d) { d.XonChar = d.XoffChar; }), DeviceStatus::Ok); // XON/XOFF off
    EXPECT_EQ(check([](DCB& d) { d.fInX = 1, d.XonChar = d.XoffChar; }),
              DeviceStatus::InvalidParameter);
    EXPECT_EQ(check([](DCB& d) { d.fDtrControl = 3; }), DeviceStatus::InvalidParameter);
    for (const Change& change :
         std::initializer_list<Change>{
             [](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; },
             [](DCB& d) { d.fOutxDsrFlow = 1; }, [](DCB& d) { d.fDsrSensitivity = 1; },
             [](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }, [](DCB& d) { d.fOutxCtsFlow = 1; },
             [](DCB& d) { d.fRtsControl = RTS_CONTROL_HANDSHAKE; }, [](DCB& d) { d.fNull = 1; },
             [](DCB& d) { d.fErrorChar = 1; }})
        EXPECT_EQ(check(change), DeviceStatus::NotSupported);
}

TEST(DcbTermiosTest, FramingFieldsAndEveryRateMapBothWays)
{
    struct Row
    {
        int size, stop, parity;
        tcflag_t bits;
    } rows[] = {
        {8, ONESTOPBIT, NOPARITY, CS8},
        {7, ONESTOPBIT, ODDPARITY, CS7 | PARENB | PARODD},
        {6, TWOSTOPBITS, EVENPARITY, CS6 | CSTOPB | PARENB},
        {5, ONE5STOPBITS, MARKPARITY, CS5 | CSTOPB | PARENB | PARODD | CMSPAR},
        {8, TWOSTOPBITS, SPACEPARITY, CS8 | CSTOPB | PARENB | CMSPAR},
    };
    for (const Row& r : rows)
    {
        const termios2 t = TermiosFromDcb(Line(9600, r.size, r.stop, r.parity), Cooked());
        EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | PARENB | PARODD | CMSPAR), r.bits);
        const DCB back = Back(t);
        EXPECT_EQ(back.ByteSize * 100 + back.StopBits * 10 + back.Parity,
                  r.size * 100 + r.stop * 10 + r.parity);
    }
    for (std::uint32_t rate : g_baudRates)
    {
        const termios2 t = TermiosFromDcb(Line(rate, 8, 0, 0), Cooked());
        EXPECT_EQ((t.c_cflag & CBAUD) == kBother, rate == 14400 || rate == 28800) << rate;
        EXPECT_EQ(t.c_cflag & CIBAUD, 0u) << rate; // the input rate follows the output rate
        EXPECT_EQ(Back(t).BaudRate, rate);
    }
    EXPECT_EQ(TermiosFromDcb(Line(115200, 8, 0, 0), Cooked()).c_cflag & CBAUD, tcflag_t{B115200});
}

TEST(DcbTermiosTest, FlowAndModemLinesMapBothWays)
{
    DCB d = Line(9600, 8, 0, 0);
    d.fOutxCtsFlow = d.fOutX = 1;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    d.XonChar = 0x21;
    termios2 t = TermiosFromDcb(d, Cooked());
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_EQ(t.c_iflag, tcflag_t{IXON});
    EXPECT_EQ(t.c_cc[VSTART] * 1000 + t.c_cc[VSTOP], 0x21 * 1000 + 0x13);
    DCB back = Back(t, {false, false});
    EXPECT_EQ(back.fOutxCtsFlow + back.fOutX + back.fInX, 2u);
    EXPECT_EQ(back.fRtsControl, RTS_CONTROL_HANDSHAKE); // the driver owns RTS
    EXPECT_EQ(back.fDtrControl, DTR_CONTROL_DISABLE);
    EXPECT_EQ(back.XonChar, 0x21);
    EXPECT_EQ(back.DCBlength, 28u);

    d.fOutxCtsFlow = d.fOutX = 0;
    d.fInX = d.fRtsControl = 1;
    back = Back(TermiosFromDcb(d, Cooked()), {true, false});
    EXPECT_EQ(back.fOutxCtsFlow + back.fOutX, 0u);
    EXPECT_EQ(back.fInX, 1u);
    EXPECT_EQ(back.fRtsControl, RTS_CONTROL_DISABLE);
    EXPECT_EQ(back.fDtrControl, DTR_CONTROL_ENABLE);
}

TEST(DcbTermiosTest, RecordsAreRawWhateverThePortHadBefore)
{
    const termios2 raw = RawMode(Cooked());
    const termios2 mapped = TermiosFromDcb(Line(9600, 8, 0, 0), Cooked());
    for (const termios2& t : {raw, mapped})
    {
        EXPECT_EQ(t.c_iflag | t.c_oflag | t.c_lflag, 0u);
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR), tcflag_t{CS8});
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD | HUPCL), tcflag_t{CLOCAL | CREAD | HUPCL});
        EXPECT_EQ(t.c_cc[VMIN] * 10 + t.c_cc[VTIME], 10);
        EXPECT_EQ(t.c_cc[VINTR] * 10 + t.c_line, 33); // what a DCB does not name stays
    }
    // Opening keeps the line's rate, stop bits and RTS/CTS flow for the settings to change.
    EXPECT_EQ(raw.c_cflag & (CBAUD | CSTOPB | CRTSCTS), tcflag_t{B9600 | CSTOPB | CRTSCTS});
    EXPECT_FALSE(mapped.c_cflag & (CSTOPB | CRTSCTS));
}

TEST(DcbTermiosTest, ReadBackToleratesOnlyWhatAPseudoTerminalForces)
{
    const termios2 asked = TermiosFromDcb(Line(14400, 7, TWOSTOPBITS, ODDPARITY), Cooked());
    termios2 forced = asked;
    forced.c_cflag = (forced.c_cflag & ~(CSIZE | PARENB)) | CS8;
    EXPECT_FALSE(KeptAsAsked(asked, forced, false));
    EXPECT_TRUE(KeptAsAsked(asked, forced, true));
    using Change = std::function<void(termios2&)>;
    const auto kept = [&](const Change& change)
    {
        termios2 got = asked;
        change(got);
        return KeptAsAsked(asked, got, true);
    };
    EXPECT_TRUE(kept([](termios2& t) { t.c_ospeed = 14500; })); // within 2 %
    for (const Change& change :
         std::initializer_list<Change>{
             [](termios2& t) { t.c_cflag &= ~CSTOPB; }, [](termios2& t) { t.c_cflag &= ~PARODD; },
             [](termios2& t) { t.c_cflag |= CRTSCTS; }, [](termios2& t) { t.c_iflag |= IXON; },
             [](termios2& t) { t.c_lflag |= ECHO; }, [](termios2& t) { t.c_cc[VMIN] = 0; },
             [](termios2& t) { t.c_ospeed = 14800; }})
        EXPECT_FALSE(kept(change));
}
