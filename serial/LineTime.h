// How long bytes take on a serial line, as pure arithmetic with no device: the bound of a write,
// the longest wait for the driver's output queue to empty, and how much of a write has left on
// the line. Any thread may call these.
//
// A pseudo-terminal has no output queue, so only these functions show that the waits a real
// UART needs come out right.
#pragma once

#include <chrono>
#include <cstdint>

// Added to every bound: the scheduler and the driver need a little time of their own.
inline constexpr std::chrono::milliseconds kLineMargin{50};

// The time `bytes` take at `baud` bits per second when each takes `frameBits` bits on the line
// (start bit, data bits, parity bit, stop bits), rounded up to a whole millisecond. Rates below
// the slowest the device layer sets count as that one.
std::chrono::milliseconds LineTime(std::uint64_t bytes, std::uint32_t baud, unsigned frameBits);

// How long a write of `bytes` may take: the write constant, the bytes' time on the line and the
// margin.
std::chrono::milliseconds WriteBound(std::uint64_t bytes, std::uint32_t baud, unsigned frameBits,
                                     std::uint32_t constantMs);

// How long `queued` bytes in the output queue need to leave: their time on the line and the
// margin; nothing when none are queued.
std::chrono::milliseconds DrainBound(std::uint64_t queued, std::uint32_t baud, unsigned frameBits);

// What a write has put on the line: the bytes the kernel took, less those still in its queue.
std::uint32_t SentOf(std::uint32_t written, std::uint32_t stillQueued);
