#include "text/CommandLine.h"

#include <cstring>

namespace
{
// Where the first comment marker of `text` starts, or text.size(). memchr keeps a long line's
// cost close to that of reading it once for each marker.
std::size_t CommentStart(std::string_view text)
{
    if (text.empty())
        return 0; // and its data may be null, which memchr must not get
    std::size_t end = text.size();
    if (const void* backslash = std::memchr(text.data(), '\\', end))
        end = static_cast<std::size_t>(static_cast<const char*>(backslash) - text.data());
    const char* slash = text.data();
    const char* const last = text.data() + end;
    while ((slash = static_cast<const char*>(
                std::memchr(slash, '/', static_cast<std::size_t>(last - slash)))) != nullptr)
    {
        if (slash + 1 < text.data() + text.size() && slash[1] == '/')
            return static_cast<std::size_t>(slash - text.data());
        ++slash;
    }
    return end;
}

std::string_view WithoutOuterSpaces(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return text.substr(0, 0);
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}
} // namespace

void CutComment(char* text)
{
    if (text != nullptr)
        text[CommentStart(text)] = '\0';
}

void TrimSpaces(char* text)
{
    if (text == nullptr)
        return;
    const std::string_view kept = WithoutOuterSpaces(text);
    if (kept.data() != text)
        std::memmove(text, kept.data(), kept.size());
    text[kept.size()] = '\0';
}

std::string_view CleanCommand(std::string_view line)
{
    // Markers and spaces after the first NUL are not part of the text; a NUL after the first
    // marker changes nothing, so it is looked for only before it.
    std::string_view text = line.substr(0, CommentStart(line));
    if (text.empty())
        return text;
    if (const void* nul = std::memchr(text.data(), '\0', text.size()))
        text =
            text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
    return WithoutOuterSpaces(text);
}
