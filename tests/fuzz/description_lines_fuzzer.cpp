// The description-file text and its body lines, whatever the cutting rules
// (a table in tests/safety pins those): decoding gives lines that, joined with
// line feeds, are the text, or refuses a byte above 0x7F and leaves the lines
// alone; a directive's argument stands just before a ")$", a preference line's
// domain begins at the line's first "com.", and other kinds have neither.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "safety/description_file.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using Kind = tavo::BodyLine::Kind;

void checkLine(const std::string& line) {
  const tavo::BodyLine body = tavo::classifyBodyLine(line);
  TAVO_FUZZ_CHECK((body.kind == Kind::Comment) == (!line.empty() && line[0] == '#'),
                  "a comment is a line with \"#\" in its first column, and only that");
  switch (body.kind) {
    case Kind::Path:
    case Kind::Var:
      TAVO_FUZZ_CHECK(line.find("com.") != std::string::npos &&
                          line.compare(line.find("com."), body.domain.size(), body.domain) == 0,
                      "a domain that does not begin at the line's first \"com.\"");
      [[fallthrough]];
    case Kind::Pkg:
    case Kind::Plist:
    case Kind::Ens:
      TAVO_FUZZ_CHECK(line.find(body.argument + ")$") != std::string::npos,
                      "an argument not followed by \")$\" in its line");
      break;
    case Kind::Comment:
    case Kind::PlainPath:
    case Kind::Malformed:
      TAVO_FUZZ_CHECK(body.domain.empty() && body.argument.empty(),
                      "a domain or argument for a line that is no directive");
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  bool ascii = true;
  for (unsigned char c : text) ascii = ascii && c < 0x80;

  std::vector<std::string> lines{"left untouched on failure"};
  std::string why;
  const bool decoded = tavo::decodeDescriptionText(text, lines, why);
  TAVO_FUZZ_CHECK(decoded == ascii, "decoding does not follow the 7-bit ASCII rule");
  if (decoded) {
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      TAVO_FUZZ_CHECK(lines[i].find('\n') == std::string::npos, "a line holds a line feed");
      joined += (i ? "\n" : "") + lines[i];
    }
    TAVO_FUZZ_CHECK(joined == text, "the lines joined are not the text");
  } else {
    TAVO_FUZZ_CHECK(lines.size() == 1 && lines[0] == "left untouched on failure" && !why.empty(),
                    "a refused text changed the lines or gave no reason");
  }
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) checkLine(line);
  return 0;
}
