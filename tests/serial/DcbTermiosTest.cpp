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

using DcbChange = std::function<void(DCB&)>;

DCB With(DCB d, const DcbChange& change)
{
    change(d);
    return d;
}

} // namespace

TEST(DcbTermiosTest, ValidationRefusesInvalidRecordsAndWhatLinuxCannotDo)
{
    const DCB line = Line(9600, 8, 0, 0);
    struct Row
    {
        const char* name;
        DCB dcb;
        DeviceStatus status;
    } rows[] = {
        {"4800 8N1", Line(4800, 8, 0, 0), DeviceStatus::Ok},
        {"14400, 5 data bits, 1.5 stop bits, mark", Line(14400, 5, 1, 3), DeviceStatus::Ok},
        {"4000000, 6 data bits, 2 stop bits, space", Line(4000000, 6, 2, 4), DeviceStatus::Ok},
        {"XON equal to XOFF with XON/XOFF off", With(line, [](DCB& d) { d.XonChar = d.XoffChar; }),
         DeviceStatus::Ok},
        {"4 data bits", Line(9600, 4, 0, 0), DeviceStatus::InvalidParameter},
        {"9 data bits", Line(9600, 9, 0, 0), DeviceStatus::InvalidParameter},
        {"stop bits code 3", Line(9600, 8, 3, 0), DeviceStatus::InvalidParameter},
        {"parity code 5", Line(9600, 8, 0, 5), DeviceStatus::InvalidParameter},
        {"rate 0", Line(0, 8, 0, 0), DeviceStatus::InvalidParameter},
        {"rate just below the lowest", Line(kMinBaudRate - 1, 8, 0, 0),
         DeviceStatus::InvalidParameter},
        {"rate just above the highest", Line(kMaxBaudRate + 1, 8, 0, 0),
         DeviceStatus::InvalidParameter},
        {"2 stop bits with 5 data bits", Line(9600, 5, 2, 0), DeviceStatus::InvalidParameter},
        {"1.5 stop bits with 6 data bits", Line(9600, 6, 1, 0), DeviceStatus::InvalidParameter},
        {"1.5 stop bits with 8 data bits", Line(9600, 8, 1, 0), DeviceStatus::InvalidParameter},
        {"XON equal to XOFF with XOFF input flow",
         With(line, [](DCB& d) { d.fInX = 1, d.XonChar = d.XoffChar; }),
         DeviceStatus::InvalidParameter},
        {"DTR control code 3", With(line, [](DCB& d) { d.fDtrControl = 3; }),
         DeviceStatus::InvalidParameter},
        {"DTR handshake", With(line, [](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; }),
         DeviceStatus::NotSupported},
        {"DSR output flow", With(line, [](DCB& d) { d.fOutxDsrFlow = 1; }),
         DeviceStatus::NotSupported},
        {"DSR sensitivity", With(line, [](DCB& d) { d.fDsrSensitivity = 1; }),
         DeviceStatus::NotSupported},
        {"RTS toggle", With(line, [](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }),
         DeviceStatus::NotSupported},
        {"CTS output flow without RTS handshake", With(line, [](DCB& d) { d.fOutxCtsFlow = 1; }),
         DeviceStatus::NotSupported},
        {"RTS handshake without CTS output flow",
         With(line, [](DCB& d) { d.fRtsControl = RTS_CONTROL_HANDSHAKE; }),
         DeviceStatus::NotSupported},
        {"NUL stripping", With(line, [](DCB& d) { d.fNull = 1; }), DeviceStatus::NotSupported},
        {"error character", With(line, [](DCB& d) { d.fErrorChar = 1; }),
         DeviceStatus::NotSupported},
    };
    for (const Row& r : rows)
    {
        SCOPED_TRACE(r.name);
        std::string why = "not set";
        EXPECT_EQ(ValidateDcb(r.dcb, &why), r.status);
        // A refusal always says why; an accepted record has nothing to say.
        EXPECT_EQ(why.empty(), r.status == DeviceStatus::Ok) << why;
    }
}

TEST(DcbTermiosTest, FramingFieldsAndEveryRateMapBothWays)
{
    struct Row
    {
        const char* name;
        int size, stop, parity;
        tcflag_t bits;
    } rows[] = {
        {"8N1", 8, ONESTOPBIT, NOPARITY, CS8},
        {"7O1", 7, ONESTOPBIT, ODDPARITY, CS7 | PARENB | PARODD},
        {"6E2", 6, TWOSTOPBITS, EVENPARITY, CS6 | CSTOPB | PARENB},
        {"5M1.5", 5, ONE5STOPBITS, MARKPARITY, CS5 | CSTOPB | PARENB | PARODD | CMSPAR},
        {"8S2", 8, TWOSTOPBITS, SPACEPARITY, CS8 | CSTOPB | PARENB | CMSPAR},
    };
    for (const Row& r : rows)
    {
        SCOPED_TRACE(r.name);
        const termios2 t = TermiosFromDcb(Line(9600, r.size, r.stop, r.parity), Cooked());
        EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | PARENB | PARODD | CMSPAR), r.bits);
        const DCB back = Back(t);
        EXPECT_EQ(back.ByteSize, r.size);
        EXPECT_EQ(back.StopBits, r.stop);
        EXPECT_EQ(back.Parity, r.parity);
    }
    for (std::uint32_t rate : g_baudRates)
    {
        SCOPED_TRACE(rate);
        const termios2 t = TermiosFromDcb(Line(rate, 8, 0, 0), Cooked());
        EXPECT_EQ((t.c_cflag & CBAUD) == kBother, rate == 14400 || rate == 28800);
        EXPECT_EQ(t.c_cflag & CIBAUD, 0u); // the input rate follows the output rate
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
    EXPECT_EQ(t.c_cc[VSTART], 0x21);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    DCB back = Back(t, {false, false});
    EXPECT_EQ(back.fOutxCtsFlow, 1u);
    EXPECT_EQ(back.fOutX, 1u);
    EXPECT_EQ(back.fInX, 0u);
    EXPECT_EQ(back.fRtsControl, RTS_CONTROL_HANDSHAKE); // the driver owns RTS
    EXPECT_EQ(back.fDtrControl, DTR_CONTROL_DISABLE);
    EXPECT_EQ(back.XonChar, 0x21);
    EXPECT_EQ(back.DCBlength, 28u);

    d.fOutxCtsFlow = d.fOutX = 0;
    d.fInX = d.fRtsControl = 1;
    back = Back(TermiosFromDcb(d, Cooked()), {true, false});
    EXPECT_EQ(back.fOutxCtsFlow, 0u);
    EXPECT_EQ(back.fOutX, 0u);
    EXPECT_EQ(back.fInX, 1u);
    EXPECT_EQ(back.fRtsControl, RTS_CONTROL_DISABLE);
    EXPECT_EQ(back.fDtrControl, DTR_CONTROL_ENABLE);
}

TEST(DcbTermiosTest, RecordsAreRawWhateverThePortHadBefore)
{
    const termios2 raw = RawMode(Cooked());
    const termios2 mapped = TermiosFromDcb(Line(9600, 8, 0, 0), Cooked());
    struct Row
    {
        const char* name;
        termios2 t;
    } rows[] = {{"raw mode at the open", raw}, {"a DCB applied", mapped}};
    for (const Row& r : rows)
    {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.t.c_iflag, 0u);
        EXPECT_EQ(r.t.c_oflag, 0u);
        EXPECT_EQ(r.t.c_lflag, 0u);
        EXPECT_EQ(r.t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR), tcflag_t{CS8});
        EXPECT_EQ(r.t.c_cflag & (CLOCAL | CREAD | HUPCL), tcflag_t{CLOCAL | CREAD | HUPCL});
        EXPECT_EQ(r.t.c_cc[VMIN], 1);
        EXPECT_EQ(r.t.c_cc[VTIME], 0);
        // What a DCB does not name stays.
        EXPECT_EQ(r.t.c_cc[VINTR], 3);
        EXPECT_EQ(r.t.c_line, 3);
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
    struct Row
    {
        const char* name;
        std::function<void(termios2&)> change;
        bool kept;
    } rows[] = {
        {"rate within 2 %", [](termios2& t) { t.c_ospeed = 14500; }, true},
        {"rate off by more than 2 %", [](termios2& t) { t.c_ospeed = 14800; }, false},
        {"stop bits", [](termios2& t) { t.c_cflag &= ~CSTOPB; }, false},
        {"odd parity", [](termios2& t) { t.c_cflag &= ~PARODD; }, false},
        {"RTS/CTS flow", [](termios2& t) { t.c_cflag |= CRTSCTS; }, false},
        {"XON/XOFF output flow", [](termios2& t) { t.c_iflag |= IXON; }, false},
        {"echo", [](termios2& t) { t.c_lflag |= ECHO; }, false},
        {"VMIN", [](termios2& t) { t.c_cc[VMIN] = 0; }, false},
    };
    for (const Row& r : rows)
    {
        SCOPED_TRACE(r.name);
        termios2 got = asked;
        r.change(got);
        EXPECT_EQ(KeptAsAsked(asked, got, true), r.kept);
    }
}
