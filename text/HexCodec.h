// Hex codec: the conversions between raw bytes and hex text, the only text form in which
// the terminal shows or accepts data.
//
// Encoding writes each byte as two characters, high nibble first, with "0"-"9" and uppercase
// "A"-"F" and nothing between the pairs. Decoding is lenient: lowercase is accepted, and every
// other character is taken at its own code as a digit value (so "G" counts as 0x47) rather
// than rejected; an odd last character becomes the high nibble of one more byte.
//
// Both conversions are stateless, allocate nothing, write only into the caller's buffers and
// may run on any thread; so does DecodeHexText, which allocates the bytes it returns.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

// The digit value of one character: 0-15 for hex digits, the character's own code otherwise.
std::uint8_t HexDigitValue(char ch);

// The two characters of a byte: high nibble first, uppercase.
std::array<char, 2> ByteToHexChars(std::uint8_t b);

// Decodes exactly `length` characters of `text` into ceil(length / 2) bytes. Nothing past
// those bytes is written. `count` (may be null) receives the number of bytes written when it
// is above 0, and is set to 0 first. A null `text` or `bytes` does nothing at all.
void HexToBytes(const char* text, std::uint32_t length, std::uint8_t* bytes, std::uint32_t* count);

// One send's bytes from its text: `length` characters decoded pairwise into the first
// ceil(length / 2) bytes of a zeroed buffer of length / 2 + 2, of which only those are returned.
// It decodes a slice of 1 Mi characters at a time and gives up between slices once `stop` is
// set (by any thread), returning nothing, so that a stop ends even the decode of a huge text
// at once.
std::vector<std::uint8_t> DecodeHexText(const char* text, std::uint32_t length,
                                        const std::atomic<bool>& stop);

// Encodes `count` bytes into exactly 2 * count characters of `text`, without a terminator.
// A null pointer or a zero count writes nothing.
void BytesToHex(const std::uint8_t* bytes, std::uint32_t count, char* text);
