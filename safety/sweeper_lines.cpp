#include "safety/sweeper_lines.h"

#include <charconv>
#include <cstdio>

namespace tavo::sweeperlines {
namespace {

struct KindWord {
  Kind kind;
  std::string_view word;  // with its ": "
};

// "partly moved" before "moved": the first match names the kind.
constexpr KindWord kWords[] = {
    {Kind::PartlyMoved, "partly moved: "}, {Kind::Moved, "moved: "},
    {Kind::Copying, "copying: "},          {Kind::Skipped, "skipped: "},
    {Kind::Refused, "refused: "},          {Kind::NotMoved, "not moved: "},
    {Kind::Fatal, "sweeper: "},
};

constexpr std::string_view kArrow = " -> ";
constexpr std::string_view kCopied = " (copied: ";
constexpr std::string_view kColon = ": ";

bool isControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool isSeparator(char c) { return c == ':' || c == '>' || c == '('; }

std::string escape(std::string_view text, bool field) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    bool separator = field && isSeparator(static_cast<char>(c));
    if (isControl(c) || c == '\\' || separator) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The text escape() wrote, back as it was; nullopt for a "\" that is not the
// start of "\xNN", and in a field for a byte that escape() never leaves bare.
std::optional<std::string> unescape(std::string_view text, bool field) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (field && isSeparator(text[i])) return std::nullopt;
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (text.size() - i < 4 || text[i + 1] != 'x') return std::nullopt;
    int high = hexDigit(text[i + 2]), low = hexDigit(text[i + 3]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 3;
  }
  return out;
}

// Splits `text` at the first `separator`: what comes before it goes to
// `head` (unescaped), the rest stays in `text`.
bool takeField(std::string_view& text, std::string_view separator, std::string& head) {
  std::size_t at = text.find(separator);
  if (at == std::string_view::npos) return false;
  std::optional<std::string> field = unescape(text.substr(0, at), true);
  if (!field) return false;
  head = std::move(*field);
  text.remove_prefix(at + separator.size());
  return true;
}

bool takeRest(std::string_view text, std::string& rest) {
  std::optional<std::string> field = unescape(text, false);
  if (!field) return false;
  rest = std::move(*field);
  return true;
}

// WHERE, and the copy's reason when the text ends in " (copied: WHY)".
bool takeWhere(std::string_view& text, Line& line, bool detailFollows) {
  std::size_t end = text.find(detailFollows ? kColon : kCopied);
  std::string_view where = text.substr(0, end);
  std::optional<std::string> field = unescape(where, true);
  if (!field) return false;
  line.where = std::move(*field);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end);
  return true;
}

// " (copied: WHY)" at the end of `text`, taken off it.
bool takeCopied(std::string_view& text, Line& line) {
  std::size_t at = text.rfind(kCopied);
  if (at == std::string_view::npos || text.empty() || text.back() != ')') return true;
  if (!takeRest(text.substr(at + kCopied.size(), text.size() - at - kCopied.size() - 1), line.copied))
    return false;
  text = text.substr(0, at);
  return true;
}

bool parseCount(std::string_view text, std::uint64_t& value) {
  const char* end = text.data() + text.size();
  auto [at, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && text.front() != '+' && error == std::errc() && at == end;
}

}  // namespace

std::string escapeText(std::string_view text) { return escape(text, false); }

std::string encode(const Line& line) {
  std::string out;
  for (const KindWord& word : kWords)
    if (word.kind == line.kind) out = word.word;
  const std::string note = line.copied.empty() ? "" : std::string(kCopied) + escapeText(line.copied) + ")";
  switch (line.kind) {
    case Kind::Moved:
      return out + escape(line.path, true) + std::string(kArrow) + escape(line.where, true) + note;
    case Kind::PartlyMoved:
      return out + escape(line.path, true) + std::string(kArrow) + escape(line.where, true) +
             std::string(kColon) + escapeText(line.detail) + note;
    case Kind::Copying:
      return out + escape(line.path, true) + std::string(kColon) + std::to_string(line.done) +
             " of " + std::to_string(line.total) + " bytes";
    case Kind::Skipped:
    case Kind::Refused:
    case Kind::NotMoved:
      return out + escape(line.path, true) + std::string(kColon) + escapeText(line.detail);
    case Kind::Fatal:
      return out + escapeText(line.detail);
  }
  return out;
}

std::optional<Line> decode(std::string_view text) {
  Line line;
  const KindWord* kind = nullptr;
  for (const KindWord& word : kWords) {
    if (text.substr(0, word.word.size()) == word.word) {
      kind = &word;
      break;
    }
  }
  if (!kind) return std::nullopt;
  line.kind = kind->kind;
  text.remove_prefix(kind->word.size());
  switch (line.kind) {
    case Kind::Moved:
      if (!takeField(text, kArrow, line.path) || !takeWhere(text, line, false)) return std::nullopt;
      if (!text.empty() && (!takeCopied(text, line) || !text.empty())) return std::nullopt;
      return line;
    case Kind::PartlyMoved:
      if (!takeField(text, kArrow, line.path) || !takeWhere(text, line, true)) return std::nullopt;
      if (text.substr(0, kColon.size()) != kColon) return std::nullopt;
      text.remove_prefix(kColon.size());
      if (!takeCopied(text, line) || !takeRest(text, line.detail)) return std::nullopt;
      return line;
    case Kind::Copying: {
      std::string counts;
      if (!takeField(text, kColon, line.path) || !takeRest(text, counts)) return std::nullopt;
      std::size_t of = counts.find(" of ");
      constexpr std::string_view kBytes = " bytes";
      if (of == std::string::npos || counts.size() < of + 4 + kBytes.size() ||
          std::string_view(counts).substr(counts.size() - kBytes.size()) != kBytes ||
          !parseCount(std::string_view(counts).substr(0, of), line.done) ||
          !parseCount(std::string_view(counts).substr(of + 4, counts.size() - of - 4 - kBytes.size()),
                      line.total))
        return std::nullopt;
      return line;
    }
    case Kind::Skipped:
    case Kind::Refused:
    case Kind::NotMoved:
      if (!takeField(text, kColon, line.path) || !takeRest(text, line.detail)) return std::nullopt;
      return line;
    case Kind::Fatal:
      if (!takeRest(text, line.detail)) return std::nullopt;
      return line;
  }
  return std::nullopt;
}

}  // namespace tavo::sweeperlines
