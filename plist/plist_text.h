#pragma once
// The text conversions of the property-list codec: UTF-8 as we hold strings,
// UTF-16BE as binary files store what is not ASCII.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavo::plist {

/// Appends `text` as UTF-16BE and counts the units; false when it is not
/// well-formed UTF-8.
bool utf8ToUtf16be(std::string_view text, std::string& out, std::size_t& units);

/// Appends the UTF-8 form of UTF-16BE `bytes` (an even count); false on an
/// unpaired surrogate.
bool utf16beToUtf8(std::string_view bytes, std::string& out);

/// True when every byte of `text` is below 0x80.
bool isAscii(std::string_view text);

}  // namespace tavo::plist
