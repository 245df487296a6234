#include "text/CommandLine.h"

#include <cstring>

void CutComment(char* text)
{
    if (text == nullptr)
        return;
    // One forward scan finds whichever marker starts first.
    for (char* p = text; *p != '\0'; ++p)
    {
        if (*p == '\\' || (p[0] == '/' && p[1] == '/'))
        {
            *p = '\0';
            return;
        }
    }
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
