// The translation between a DCB and the kernel's termios record, as pure functions (no
// descriptor) so that every field can be checked without a device: a pseudo-terminal keeps
// only part of what is asked.
//
// The record is the kernel's termios2 (TCGETS2/TCSETS2), the one interface that sets any rate
// (BOTHER): 14400 and 28800 have no B constant. The kernel header that declares it clashes with
// <termios.h>, so the asm-generic layout is declared here.
#pragma once

#include "serial/CommTypes.h"

#include <cstdint>
#include <termios.h>

struct termios2
{
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
static_assert(sizeof(termios2) == 44, "asm-generic termios2 layout");

inline constexpr tcflag_t kBother = 0010000; // CBAUD value meaning "rate in c_ispeed/c_ospeed"

// The DTR and RTS levels asked for, kept by the device layer since a pseudo-terminal has no
// modem lines to read them back from.
struct ModemLines
{
    bool dtr = true; // Linux raises both lines when a port is opened
    bool rts = true;
};

// The line rate a record describes (0 for B0).
std::uint32_t BaudRateOf(const termios2& t);

// Raw binary mode on top of a port's current record: nothing that could change, add or swallow
// a byte (no echo, line editing, CR/LF translation, bit stripping, parity marking, XON/XOFF),
// 8 data bits without parity, receiver on, modem status ignored, VMIN 1 and VTIME 0 (so that a
// read returning 0 can only mean a hang-up). Rate, stop bits, RTS/CTS flow and HUPCL stay.
termios2 RawMode(const termios2& current);

// The record for a DCB that passed ValidateDcb, on top of the port's current record, which keeps
// what a DCB does not describe (HUPCL, the line discipline, the other control characters).
termios2 TermiosFromDcb(const DCB& dcb, const termios2& current);

// Fills the DCB fields a termios record and the modem lines describe; the others keep their
// values. DCBlength becomes 28.
void DcbFromTermios(const termios2& t, const ModemLines& lines, DCB* dcb);

// Whether the device kept what was asked: everything that shapes the bytes must match, the
// output rate within 2 % (the kernel's own tolerance when it encodes a rate). A pseudo-terminal
// forces 8 data bits and no parity; with onPty those two are not compared.
bool KeptAsAsked(const termios2& asked, const termios2& got, bool onPty);
