#include "text/CommandLine.h"

#include <cstring>

void CutComment(char* text)
{
    if (text == nullptr)
        return;
    // Whichever marker starts first; memchr keeps a long line's cost close to that of reading
    // it once.
    const std::size_t length = std::strlen(text);
    char* end = text + length;
    if (auto* backslash = static_cast<char*>(std::memchr(text, '\\', length)))
        end = backslash;
    char* slash = text;
    while ((slash = static_cast<char*>(
                std::memchr(slash, '/', static_cast<std::size_t>(end - slash)))) != nullptr)
    {
        if (slash[1] == '/')
        {
            end = slash;
            break;
        }
        ++slash;
    }
    *end = '\0';
}

void TrimSpaces(char* text)
{
    if (text == nullptr)
        return;
    std::size_t end = std::strlen(text);
    while (end > 0 && text[end - 1] == ' ')
        --end;
    text[end] = '\0';

    std::size_t start = 0;
    while (start < end && text[start] == ' ')
        ++start;
    if (start > 0)
        std::memmove(text, text + start, end - start + 1);
}
