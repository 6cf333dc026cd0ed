// The Path= value of a trash info file: whatever bytes a path holds, its
// encoding stays on one line, uses only the URL-path alphabet and decodes
// back to the same bytes, as a desktop's Trash and sweeper's own reader read it.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "tools/sweeper/trash_info.h"

namespace {

// An upper-case hex digit's value, as the encoder must write them; else -1.
int hexValue(char c) {
  const char* digits = "0123456789ABCDEF";
  const char* at = c ? std::strchr(digits, c) : nullptr;
  return at ? static_cast<int>(at - digits) : -1;
}

// The reader's side: "%XX" is the byte XX, everything else stands for itself;
// nullopt for a "%" without two hex digits.
std::optional<std::string> percentDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

bool inUrlPathAlphabet(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '.' || c == '_' || c == '~' || c == '/' || c == '%';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path(reinterpret_cast<const char*>(data), size);
  const std::string encoded = tavo::percentEncode(path);
  for (char c : encoded) TAVO_FUZZ_CHECK(inUrlPathAlphabet(c), "a byte outside the URL-path alphabet");
  for (std::size_t at = encoded.find('%'); at != std::string::npos; at = encoded.find('%', at + 1)) {
    TAVO_FUZZ_CHECK(at + 2 < encoded.size() && hexValue(encoded[at + 1]) >= 0 &&
                        hexValue(encoded[at + 2]) >= 0,
                    "a \"%\" not followed by two upper-case hex digits");
  }
  std::optional<std::string> decoded = percentDecode(encoded);
  TAVO_FUZZ_CHECK(decoded && *decoded == path, "the encoding does not decode to the path");
  // sweeper's own reader, putting an item back, finds the same path in the info file.
  TAVO_FUZZ_CHECK(tavo::trashInfoPath("[Trash Info]\nPath=" + encoded + "\nDeletionDate=x\n") == path,
                  "the info file's reader does not find the path");
  return 0;
}
