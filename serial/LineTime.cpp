#include "serial/LineTime.h"

#include "serial/DcbValidation.h"

#include <algorithm>

std::chrono::milliseconds LineTime(std::uint64_t bytes, std::uint32_t baud, unsigned frameBits)
{
    const std::uint64_t rate = std::max(baud, kMinBaudRate);
    return std::chrono::milliseconds((bytes * frameBits * 1000 + rate - 1) / rate);
}

std::chrono::milliseconds WriteBound(std::uint64_t bytes, std::uint32_t baud, unsigned frameBits,
                                     std::uint32_t constantMs)
{
    return std::chrono::milliseconds(constantMs) + LineTime(bytes, baud, frameBits) + kLineMargin;
}

std::chrono::milliseconds DrainBound(std::uint64_t queued, std::uint32_t baud, unsigned frameBits)
{
    if (queued == 0)
        return std::chrono::milliseconds(0);
    return LineTime(queued, baud, frameBits) + kLineMargin;
}

std::uint32_t SentOf(std::uint32_t written, std::uint32_t stillQueued)
{
    return written - std::min(written, stillQueued);
}
