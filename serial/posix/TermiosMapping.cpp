#include "serial/posix/TermiosMapping.h"

#include "serial/DcbValidation.h"

#include <algorithm>
#include <iterator>

namespace
{

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
// BOTHER covers the rates between two B constants, so validation may take the whole range.
static_assert(std::begin(kSpeeds)->rate == kMinBaudRate);
static_assert(std::prev(std::end(kSpeeds))->rate == kMaxBaudRate);

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
