// Command line cleanup: turns a line of a command file into the text that goes into the
// Input field. CutComment ends the text at its first comment marker ("//" or a backslash,
// whichever comes first); TrimSpaces removes leading and trailing spaces. Only 0x20 counts as
// a space: tabs and other bytes are ordinary characters. The window applies CutComment first,
// so spaces before a comment end up trailing and are trimmed.
//
// CutComment and TrimSpaces change a writable NUL-terminated text in place and never make it
// longer; a null pointer does nothing. CleanCommand finds what the two together keep of a
// text without changing or copying it, so that a long line costs one copy of just that part.
// All are reentrant.
#pragma once

#include <string_view>

void CutComment(char* text);
void TrimSpaces(char* text);

// What CutComment and then TrimSpaces leave of `line` read as a NUL-terminated text (its first
// NUL, if any, ends it), as a part of `line` itself.
std::string_view CleanCommand(std::string_view line);
