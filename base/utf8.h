#pragma once
// Telling well-formed UTF-8 from other bytes: file names on this system are
// bytes, while the list file and the Trash's info files are UTF-8.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavo {

/// The length (1 to 4) of the well-formed UTF-8 sequence that starts at
/// `at`, or 0 when the bytes there are not one (a stray continuation byte,
/// a cut sequence, an overlong form, a surrogate, a value past U+10FFFF).
std::size_t utf8SequenceLength(std::string_view text, std::size_t at);

/// The code point of the well-formed UTF-8 sequence at `at`, with its length
/// in `length`; -1 when the bytes there are not one.
std::int32_t decodeUtf8(std::string_view text, std::size_t at, std::size_t& length);

/// Appends the UTF-8 form of a code point (not a surrogate, at most U+10FFFF).
void appendUtf8(std::uint32_t codePoint, std::string& out);

/// True when all of `text` is well-formed UTF-8.
bool isValidUtf8(std::string_view text);

/// The longest beginning of `text` of at most `maxBytes` bytes that does not
/// end inside a well-formed sequence, so that cutting valid UTF-8 keeps it
/// valid.
std::string_view cutUtf8(std::string_view text, std::size_t maxBytes);

}  // namespace tavo
