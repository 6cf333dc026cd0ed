#include "safety/description_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "base/io.h"
#include "base/unique_fd.h"

namespace tavo {
namespace {

bool readWhole(const std::string& path, std::string& text, std::string& why) {
  if (path.find('\0') != std::string::npos) {
    why = "its path holds a NUL";
    return false;
  }
  // Non-blocking so that a pipe put where a file belongs cannot stall the scan.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
    why = std::string("cannot open it: ") + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    why = "it is not a regular file";
    return false;
  }
  if (!readAll(fd.get(), text)) {
    why = std::string("cannot read it: ") + std::strerror(errno);
    return false;
  }
  return true;
}

// The offset of the first byte above 0x7F, or npos for 7-bit ASCII.
std::size_t firstNonAscii(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i)
    if (static_cast<unsigned char>(text[i]) > 0x7F) return i;
  return std::string::npos;
}

struct Token {
  const char* text;
  std::size_t length;
  BodyLine::Kind kind;
};

// In order of precedence.
constexpr std::array<Token, 5> kTokens = {{
    {"$_path(", 7, BodyLine::Kind::Path},
    {"$_var(", 6, BodyLine::Kind::Var},
    {"$_pkg(", 6, BodyLine::Kind::Pkg},
    {"$_plist(", 8, BodyLine::Kind::Plist},
    {"$_ens(", 6, BodyLine::Kind::Ens},
}};

// The domain runs from the line's first "com." to six characters before the
// token (a ".plist" in front of it is dropped unread). Without "com.", or
// with it closer than six characters to the token, there is no domain.
bool cutDomain(const std::string& line, std::size_t tokenAt, std::string& domain) {
  std::size_t com = line.find("com.");
  if (com == std::string::npos || tokenAt < 6 || com > tokenAt - 6) return false;
  domain = line.substr(com, tokenAt - 6 - com);
  return true;
}

}  // namespace

bool readDescriptionLines(const std::string& path, std::vector<std::string>& lines,
                          std::string& why) {
  std::string text;
  if (!readWhole(path, text, why)) return false;
  return decodeDescriptionText(text, lines, why);
}

bool decodeDescriptionText(std::string_view bytes, std::vector<std::string>& lines,
                           std::string& why) {
  if (std::size_t at = firstNonAscii(bytes); at != std::string_view::npos) {
    why = "it is not 7-bit ASCII (a byte above 0x7F at offset " + std::to_string(at) + ")";
    return false;
  }
  lines.clear();
  std::size_t start = 0;
  for (;;) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) break;
    lines.emplace_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  lines.emplace_back(bytes.substr(start));
  return true;
}

BodyLine classifyBodyLine(const std::string& line) {
  BodyLine result;
  if (!line.empty() && line[0] == '#') {
    result.kind = BodyLine::Kind::Comment;
    return result;
  }
  for (const Token& token : kTokens) {
    std::size_t at = line.find(token.text);
    if (at == std::string::npos) continue;
    std::size_t start = at + token.length;
    std::size_t end = line.find(")$");  // the line's first, wherever the token is
    bool needsDomain = token.kind == BodyLine::Kind::Path || token.kind == BodyLine::Kind::Var;
    if (end == std::string::npos || end < start ||
        (needsDomain && !cutDomain(line, at, result.domain))) {
      result.kind = BodyLine::Kind::Malformed;
      return result;
    }
    result.kind = token.kind;
    result.argument = line.substr(start, end - start);
    return result;
  }
  result.kind = BodyLine::Kind::PlainPath;
  return result;
}

}  // namespace tavo
