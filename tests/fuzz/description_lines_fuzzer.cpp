// The description-file text and its body lines. Decoding either refuses the
// text (a byte above 0x7F) or gives lines that, joined with line feeds, are
// the text. Every line, decodable or not, gets the kind the format gives it:
// a "#" in the first column is a comment; else the first token in the order
// of precedence decides, and its argument and domain are cut where the format
// says; a line with no token is a plain path.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "safety/description_file.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using Kind = tavo::BodyLine::Kind;

struct Token {
  std::string text;
  Kind kind;
};

const std::array<Token, 5> kTokens = {{{"$_path(", Kind::Path},
                                       {"$_var(", Kind::Var},
                                       {"$_pkg(", Kind::Pkg},
                                       {"$_plist(", Kind::Plist},
                                       {"$_ens(", Kind::Ens}}};

// The format's rule for a line that holds `token` at `at`, the first token
// by precedence: its argument runs from after the token to the line's first
// ")$"; Path and Var also take a domain from the first "com." up to six
// characters before the token. False when either cannot be cut.
bool cutsAsTheFormatSays(const std::string& line, const Token& token, std::size_t at,
                         const tavo::BodyLine& body) {
  const std::size_t start = at + token.text.size();
  const std::size_t close = line.find(")$");
  if (close == std::string::npos || close < start) return false;
  if (token.kind == Kind::Path || token.kind == Kind::Var) {
    const std::size_t com = line.find("com.");
    if (com == std::string::npos || com + 6 > at) return false;
    TAVO_FUZZ_CHECK(body.domain == line.substr(com, at - 6 - com), "the domain is cut elsewhere");
  }
  TAVO_FUZZ_CHECK(body.argument == line.substr(start, close - start),
                  "the argument is cut elsewhere");
  return true;
}

void checkLine(const std::string& line) {
  const tavo::BodyLine body = tavo::classifyBodyLine(line);
  if (!line.empty() && line[0] == '#') {
    TAVO_FUZZ_CHECK(body.kind == Kind::Comment, "a \"#\" line is not a comment");
    return;
  }
  for (const Token& token : kTokens) {
    const std::size_t at = line.find(token.text);
    if (at == std::string::npos) continue;
    const bool cut = cutsAsTheFormatSays(line, token, at, body);
    TAVO_FUZZ_CHECK(body.kind == (cut ? token.kind : Kind::Malformed),
                    "the first token by precedence does not decide the kind");
    return;
  }
  TAVO_FUZZ_CHECK(body.kind == Kind::PlainPath, "a line without a token is not a plain path");
}

std::vector<std::string> splitAtLineFeeds(std::string_view text) {
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\n')
      lines.emplace_back();
    else
      lines.back() += c;
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> expected = splitAtLineFeeds(text);
  bool ascii = true;
  for (unsigned char c : text) ascii = ascii && c < 0x80;

  std::vector<std::string> lines{"left untouched on failure"};
  std::string why;
  const bool decoded = tavo::decodeDescriptionText(text, lines, why);
  TAVO_FUZZ_CHECK(decoded == ascii, "decoding does not follow the 7-bit ASCII rule");
  if (decoded) {
    TAVO_FUZZ_CHECK(lines == expected, "the lines are not the text split at each line feed");
  } else {
    TAVO_FUZZ_CHECK(lines.size() == 1 && lines[0] == "left untouched on failure" && !why.empty(),
                    "a refused text changed the lines or gave no reason");
  }
  for (const std::string& line : expected) checkLine(line);
  return 0;
}
