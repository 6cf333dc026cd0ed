#include "core/description_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>

namespace tavo {
namespace {

// Closes the descriptor on every way out.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool readWhole(const std::string& path, std::string& text) {
  if (path.find('\0') != std::string::npos) return false;
  // Non-blocking so that a pipe put where a file belongs cannot stall the scan.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  struct stat st;
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::array<char, 65536> chunk;
  for (;;) {
    ssize_t n = ::read(fd.get(), chunk.data(), chunk.size());
    if (n == 0) return true;
    if (n < 0) return false;
    text.append(chunk.data(), static_cast<std::size_t>(n));
  }
}

bool isAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c > 0x7F) return false;
  return true;
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

bool readDescriptionLines(const std::string& path, std::vector<std::string>& lines) {
  std::string text;
  if (!readWhole(path, text) || !isAscii(text)) return false;
  lines.clear();
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  lines.push_back(text.substr(start));
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
