#include "plist/plist_text.h"

#include "base/utf8.h"

namespace tavo::plist {
namespace {

std::uint8_t byteAt(std::string_view text, std::size_t i) { return static_cast<std::uint8_t>(text[i]); }

bool isSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

void appendUnit(std::uint32_t unit, std::string& out) {
  out.push_back(static_cast<char>(unit >> 8));
  out.push_back(static_cast<char>(unit & 0xFF));
}

}  // namespace

bool utf8ToUtf16be(std::string_view text, std::string& out, std::size_t& units) {
  units = 0;
  for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
    std::int32_t cp = decodeUtf8(text, at, length);
    if (cp < 0) return false;
    auto value = static_cast<std::uint32_t>(cp);
    if (value < 0x10000) {
      appendUnit(value, out);
      ++units;
      continue;
    }
    value -= 0x10000;
    appendUnit(0xD800 | (value >> 10), out);
    appendUnit(0xDC00 | (value & 0x3FF), out);
    units += 2;
  }
  return true;
}

bool utf16beToUtf8(std::string_view bytes, std::string& out) {
  auto unitAt = [&](std::size_t i) -> std::uint32_t {
    return (std::uint32_t{byteAt(bytes, i)} << 8) | byteAt(bytes, i + 1);
  };
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    std::uint32_t unit = unitAt(i);
    if (!isSurrogate(unit)) {
      appendUtf8(unit, out);
      continue;
    }
    if (unit >= 0xDC00 || i + 3 >= bytes.size()) return false;
    std::uint32_t low = unitAt(i + 2);
    if (low < 0xDC00 || low > 0xDFFF) return false;
    appendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), out);
    i += 2;
  }
  return true;
}

bool isAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<std::uint8_t>(c) >= 0x80) return false;
  return true;
}

}  // namespace tavo::plist
