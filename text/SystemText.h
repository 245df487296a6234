// System text: bytes as the text a user reads in them, in the system's 8-bit encoding, or, where
// they are not valid in it, one character a byte (Latin-1: byte b is the character U+00bb), so
// that any bytes read as something and none is dropped or replaced. The bytes themselves stay
// what they are; this is only how they read. Qt takes the system's 8-bit text to be UTF-8 on
// Linux, whatever the locale names, and so does this.
//
// A long line shown cut needs only its start: SystemTextStart reads a bounded number of bytes
// however long the line is, and those alone decide how the start reads.
//
// Reentrant; any thread.
#pragma once

#include <QString>
#include <string_view>

// The whole text of `bytes`.
QString SystemText(std::string_view bytes);

// The start of the text of `bytes`, as a line cut after `characters` UTF-16 units shows it:
// at most that many, ending on a boundary between characters as the user sees them. *cut, when
// given, tells whether anything was left out. Reads at most (characters + 2) * 4 bytes: they
// read in the system's encoding when valid in it, else one character a byte.
QString SystemTextStart(std::string_view bytes, qsizetype characters, bool* cut = nullptr);

// Whether SystemTextStart(bytes, characters) reads the bytes in the system's encoding rather
// than one character a byte.
bool StartIsSystemText(std::string_view bytes, qsizetype characters);
