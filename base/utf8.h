#pragma once
// Telling well-formed UTF-8 from other bytes: file names on this system are
// bytes, while the list file and the Trash's info files are UTF-8.

#include <cstddef>
#include <string_view>

namespace tavo {

/// The length (1 to 4) of the well-formed UTF-8 sequence that starts at
/// `at`, or 0 when the bytes there are not one (a stray continuation byte,
/// a cut sequence, an overlong form, a surrogate, a value past U+10FFFF).
std::size_t utf8SequenceLength(std::string_view text, std::size_t at);

/// True when all of `text` is well-formed UTF-8.
bool isValidUtf8(std::string_view text);

/// The longest beginning of `text` of at most `maxBytes` bytes that does not
/// end inside a well-formed sequence, so that cutting valid UTF-8 keeps it
/// valid.
std::string_view cutUtf8(std::string_view text, std::size_t maxBytes);

}  // namespace tavo
