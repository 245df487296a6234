#include "HostPlayer.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

CHostPlayer::CHostPlayer()
{
    const char* line = std::getenv("VORLANTI_GUEST_CONTROL");
    if (line == nullptr || *line == '\0')
        return;
    m_fd = ::open(line, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0)
        return;
    termios t;
    ::tcgetattr(m_fd, &t);
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B115200);
    ::tcsetattr(m_fd, TCSANOW, &t);
    ::tcflush(m_fd, TCIOFLUSH);
    if (!Ask("hello"))
    {
        ::close(m_fd);
        m_fd = -1;
    }
}

CHostPlayer::~CHostPlayer()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool CHostPlayer::Ask(const std::string& request, std::string* words, int timeoutMs)
{
    if (m_fd < 0)
        return false;
    const std::string line = request + "\n";
    for (std::size_t at = 0; at < line.size();)
    {
        const ssize_t n = ::write(m_fd, line.data() + at, line.size() - at);
        if (n < 0 && errno != EINTR)
            return false;
        at += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t end;
    while ((end = m_pending.find('\n')) == std::string::npos)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{m_fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count()) + 1) == 0)
            return false;
        char buffer[256];
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0)
            m_pending.append(buffer, static_cast<std::size_t>(n));
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            return false;
    }
    const std::string answer = m_pending.substr(0, end);
    m_pending.erase(0, end + 1);
    if (words)
        *words = answer.size() > 3 ? answer.substr(3) : std::string();
    return answer.rfind("ok", 0) == 0;
}

bool CHostPlayer::Send(const std::string& device, std::uint64_t count, std::uint32_t seed)
{
    return Ask("send " + device + " " + std::to_string(count) + " " + std::to_string(seed));
}

HostReceived CHostPlayer::Received(const std::string& device, std::uint64_t atLeast, int timeoutMs)
{
    HostReceived got;
    std::string words;
    if (!Ask("wait " + device + " " + std::to_string(atLeast) + " " + std::to_string(timeoutMs),
             &words, timeoutMs + 20000))
        return got;
    char* end = nullptr;
    got.count = std::strtoull(words.c_str(), &end, 10);
    got.crc = static_cast<std::uint32_t>(std::strtoul(end, nullptr, 16));
    got.answered = true;
    return got;
}

std::vector<std::uint8_t> Pattern(std::uint32_t seed, std::size_t count)
{
    std::uint32_t state = seed * 2654435761u + 1u;
    if (state == 0)
        state = 1;
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes)
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t count, std::uint32_t crc)
{
    static const auto table = []
    {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i)
        {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < count; ++i)
        crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}
