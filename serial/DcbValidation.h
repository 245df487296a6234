// Which DCB records the device layer takes, decided before anything reaches a device: pure
// code with no state, callable from any thread.
//
// ValidateDcb answers InvalidParameter for a record that no serial driver takes: byte size 5
// to 8, stop bits 0 to 2, parity 0 to 4, a rate from kMinBaudRate to kMaxBaudRate, 1.5 stop
// bits only with 5 data bits, 2 stop bits not with 5, distinct XON/XOFF characters while
// XON/XOFF is on. It answers NotSupported for a valid request that Linux cannot honour: DTR/DSR
// handshake, DSR sensitivity, RTS toggle, CTS output flow without RTS handshake or the reverse,
// error-character replacement, NUL stripping. Anything else is Ok. A refusal comes with the
// rule it broke in words for the user ("1.5 stop bits need 5 data bits"); Ok with none.
#pragma once

#include "serial/CommTypes.h"

#include <cstdint>
#include <string>

// The line rates the device layer can set: every rate in this range, in bits per second.
inline constexpr std::uint32_t kMinBaudRate = 50;
inline constexpr std::uint32_t kMaxBaudRate = 4000000;

DeviceStatus ValidateDcb(const DCB& dcb, std::string* whyNot = nullptr);
