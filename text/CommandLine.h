// Command line cleanup: turns a line of a command file into the text that goes into the
// Input field. CutComment ends the text at its first comment marker ("//" or a backslash,
// whichever comes first); TrimSpaces removes leading and trailing spaces. Only 0x20 counts as
// a space: tabs and other bytes are ordinary characters. The window applies CutComment first,
// so spaces before a comment end up trailing and are trimmed.
//
// Both change a writable NUL-terminated text in place, never make it longer, and are
// reentrant. A null pointer does nothing.
#pragma once

void CutComment(char* text);
void TrimSpaces(char* text);
