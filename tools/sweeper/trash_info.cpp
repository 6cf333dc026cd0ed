#include "tools/sweeper/trash_info.h"

#include <cstring>

namespace tavo {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string percentEncode(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 std::strchr("-._~/", c) != nullptr;
    if (plain && c != '\0') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::optional<std::string> percentDecode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size() || hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0) {
      return std::nullopt;
    }
    out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
    i += 2;
  }
  return out;
}

std::optional<std::string> trashInfoPath(std::string_view text) {
  constexpr std::string_view kGroup = "[Trash Info]\n", kKey = "\nPath=";
  if (!text.starts_with(kGroup)) return std::nullopt;
  // Within the group: up to the next group, if any.
  const std::size_t start = kGroup.size() - 1, end = text.find("\n[", start);
  std::string_view group = text.substr(start, end == std::string_view::npos ? end : end - start);
  std::size_t at = group.find(kKey);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view value = group.substr(at + kKey.size());
  return percentDecode(value.substr(0, value.find('\n')));
}

}  // namespace tavo
