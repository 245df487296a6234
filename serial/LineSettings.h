// Line settings: the tables behind the window's baud, byte size, stop bits, parity and flow
// choices (their texts, order and defaults), and the mapping of the current choices onto a
// DCB that was just read from the device. The mapping is a pure function of the choices'
// indexes and the two check states; the window only supplies them.
#pragma once

#include "serial/CommTypes.h"

#include <array>
#include <cstdint>
#include <string>

inline constexpr std::array<std::uint32_t, 8> g_baudRates = {4800,  9600,  14400, 19200,
                                                             28800, 38400, 57600, 115200};
inline constexpr std::array<const char*, 5> g_parityNames = {"None", "Odd", "Even", "Mark",
                                                             "Space"};
inline constexpr std::array<const char*, 4> g_flowNames = {"Hardware", "Software", "None",
                                                           "Custom"};
inline constexpr std::array<const char*, 3> g_stopBitsNames = {"1", "1.5", "2"};
inline constexpr int kFirstByteSize = 5; // the byte size choice lists 5, 6, 7, 8
inline constexpr int kByteSizeCount = 4;
inline constexpr int kPortCount = 8; // COM1 to COM8

inline constexpr int kDefaultBaudIndex = 7;     // 115200
inline constexpr int kDefaultByteSizeIndex = 3; // 8
inline constexpr int kDefaultStopBitsIndex = 0; // 1
inline constexpr int kDefaultParityIndex = 0;   // None
inline constexpr int kDefaultFlowIndex = 2;     // None

enum FlowChoice : int
{
    kFlowHardware = 0,
    kFlowSoftware = 1,
    kFlowNone = 2,
    kFlowCustom = 3,
};

// The window's current selections.
struct LineChoices
{
    int baudIndex = kDefaultBaudIndex;
    int byteSizeIndex = kDefaultByteSizeIndex;
    int stopBitsIndex = kDefaultStopBitsIndex;
    int parityIndex = kDefaultParityIndex;
    int flowIndex = kDefaultFlowIndex;
    bool dtrChecked = true;
    bool rtsChecked = true;
};

// Writes DCBlength, BaudRate, ByteSize, StopBits, Parity, fDtrControl, fRtsControl and the
// flow fields of the chosen flow entry; every other field keeps its value.
void MapLineSettings(const LineChoices& choices, DCB* dcb);

// The line settings of `described` that differ from those of `other`, in words for the user,
// joined as a list ("8 data bits and 115200 baud"); empty when none differ. Compares the rate
// (within 2 %, the kernel's own tolerance when it encodes a rate), data bits, stop bits,
// parity, flow control and the DTR and RTS levels (RTS only where no handshake drives it).
std::string SettingsThatDiffer(const DCB& described, const DCB& other);
