#include "plist/plist_xml.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>

#include "plist/plist_calendar.h"
#include "plist/plist_limits.h"
#include "base/utf8.h"
#include "plist/plist_text.h"

namespace tavo::plist {
namespace {

constexpr std::string_view kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";
constexpr std::string_view kBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool isNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == ':' || c == '.' || c == '-' || static_cast<unsigned char>(c) >= 0x80;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

// XML 1.0's Char production.
bool isXmlChar(std::uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || cp >= 0x10000;
}

// Decimal with an optional sign, or hex after "0x"; negative values down to
// -2^63, others up to 2^64-1.
bool parseInteger(std::string_view s, PlistInteger& out) {
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  std::uint64_t magnitude = 0;
  auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
  if (s.empty() || error != std::errc() || end != s.data() + s.size()) return false;
  if (!negative) {
    out = PlistInteger::fromUnsigned(magnitude);
    return true;
  }
  if (magnitude > (std::uint64_t{1} << 63)) return false;
  out = PlistInteger(static_cast<std::int64_t>(~magnitude + 1));
  return true;
}

// Locale-independent: the application's locale may use a decimal comma.
bool parseReal(std::string_view s, double& out) {
  if (s.size() > 1 && s[0] == '+' && s[1] != '-' && s[1] != '+') s.remove_prefix(1);
  auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), out);
  return !s.empty() && error == std::errc() && end == s.data() + s.size();
}

int base64Value(char c) {
  static const auto kValues = [] {
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    for (std::size_t i = 0; i < kBase64.size(); ++i) values[static_cast<unsigned char>(kBase64[i])] = static_cast<std::int8_t>(i);
    return values;
  }();
  return kValues[static_cast<unsigned char>(c)];
}

// Whitespace may stand anywhere; padding is optional but only at the end.
bool decodeBase64(std::string_view text, PlistData& out) {
  std::uint32_t bits = 0;
  int held = 0;
  std::size_t symbols = 0, padding = 0;
  for (char c : text) {
    if (isSpace(c)) continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    int value = base64Value(c);
    if (value < 0 || padding > 0) return false;
    ++symbols;
    bits = (bits << 6 | static_cast<std::uint32_t>(value)) & 0xFFFFFF;
    held += 6;
    if (held >= 8) {
      held -= 8;
      out.push_back(static_cast<std::uint8_t>(bits >> held));
    }
  }
  if (symbols % 4 == 1 || padding > 2) return false;
  return padding == 0 || (symbols + padding) % 4 == 0;
}

// Every value takes at least seven bytes of text ("<true/>"), so what a
// document expands to is bounded by its size; no budget is needed here.
class XmlReader {
 public:
  explicit XmlReader(std::string_view text) : t_(text) {}

  bool read(PlistValue& top, std::string& problem) {
    bool ok = readDocument(top);
    if (!ok) problem = problem_;
    return ok;
  }

 private:
  struct Tag {
    std::string_view name;
    bool closing = false;  // </name>
    bool empty = false;    // <name/>
  };

  bool fail(const char* why) {
    problem_ = why;
    return false;
  }
  bool startsWith(std::string_view s) const { return t_.substr(pos_, s.size()) == s; }
  void skipSpace() {
    while (pos_ < t_.size() && isSpace(t_[pos_])) ++pos_;
  }
  bool skipPast(std::string_view terminator, const char* unterminated) {
    std::size_t at = t_.find(terminator, pos_);
    if (at == std::string_view::npos) return fail(unterminated);
    pos_ = at + terminator.size();
    return true;
  }
  // Whitespace, comments and processing instructions.
  bool skipMisc() {
    for (;;) {
      skipSpace();
      if (startsWith("<!--")) {
        if (!skipPast("-->", "an unterminated comment")) return false;
      } else if (startsWith("<?")) {
        if (!skipPast("?>", "an unterminated processing instruction")) return false;
      } else {
        return true;
      }
    }
  }

  bool readDocument(PlistValue& top) {
    if (startsWith("\xEF\xBB\xBF")) pos_ += 3;
    if (startsWith("<?xml") && pos_ + 5 < t_.size() && isSpace(t_[pos_ + 5]) && !readDeclaration())
      return false;
    if (!skipMisc()) return false;
    if (startsWith("<!DOCTYPE") && (!skipDoctype() || !skipMisc())) return false;
    Tag root;
    if (!readTag(root)) return false;
    if (root.closing) return fail("an end tag where the property list should start");
    bool ok = root.name == "plist" ? readPlistElement(root, top) : readValue(root, 0, top);
    if (!ok || !skipMisc()) return false;
    return pos_ == t_.size() || fail("text after the property list");
  }

  // Only UTF-8 (or no encoding named, which means it).
  bool readDeclaration() {
    std::size_t end = t_.find("?>", pos_);
    if (end == std::string_view::npos) return fail("an unterminated XML declaration");
    std::string_view declaration = t_.substr(pos_, end - pos_);
    pos_ = end + 2;
    std::size_t at = declaration.find("encoding");
    if (at == std::string_view::npos) return true;
    std::string_view rest = trimmed(declaration.substr(at + 8));
    if (rest.empty() || rest[0] != '=') return fail("a malformed XML declaration");
    rest = trimmed(rest.substr(1));
    std::size_t close = rest.empty() ? 0 : rest.find(rest[0], 1);
    if (rest.empty() || (rest[0] != '"' && rest[0] != '\'') || close == std::string_view::npos)
      return fail("a malformed XML declaration");
    std::string name(rest.substr(1, close - 1));
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return c | 0x20; });
    return name == "utf-8" || fail("an encoding other than UTF-8");
  }

  // The DOCTYPE is skipped, internal subset and all: its entities are not
  // expanded, so a reference to one is an unknown entity.
  bool skipDoctype() {
    char quote = 0;
    bool subset = false;
    for (pos_ += 9; pos_ < t_.size(); ++pos_) {
      char c = t_[pos_];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '[' || c == ']') {
        subset = c == '[';
      } else if (c == '>' && !subset) {
        ++pos_;
        return true;
      }
    }
    return fail("an unterminated DOCTYPE");
  }

  bool readName(std::string_view& name) {
    std::size_t start = pos_;
    while (pos_ < t_.size() && isNameChar(t_[pos_])) ++pos_;
    name = t_.substr(start, pos_ - start);
    return !name.empty() || fail("a malformed tag");
  }

  // Attributes are checked for form and otherwise ignored.
  bool readTag(Tag& tag) {
    if (!startsWith("<")) return fail(pos_ == t_.size() ? "a document that ends early" : "text where an element should be");
    ++pos_;
    tag.closing = startsWith("/");
    if (tag.closing) ++pos_;
    if (!readName(tag.name)) return false;
    for (;;) {
      skipSpace();
      if (startsWith(">")) {
        ++pos_;
        return true;
      }
      if (startsWith("/>") && !tag.closing) {
        pos_ += 2;
        tag.empty = true;
        return true;
      }
      std::string_view attribute;
      if (tag.closing || !readName(attribute)) return fail("a malformed tag");
      skipSpace();
      if (!startsWith("=")) return fail("a malformed attribute");
      ++pos_;
      skipSpace();
      if (!startsWith("\"") && !startsWith("'")) return fail("a malformed attribute");
      std::size_t close = t_.find(t_[pos_], pos_ + 1);
      if (close == std::string_view::npos) return fail("an unterminated attribute");
      pos_ = close + 1;
    }
  }

  bool readPlistElement(const Tag& open, PlistValue& top) {
    Tag value, end;
    if (open.empty) return fail("a property list holding no value");
    if (!skipMisc() || !readTag(value)) return false;
    if (value.closing) return fail("a property list holding no value");
    if (!readValue(value, 0, top) || !skipMisc() || !readTag(end)) return false;
    return (end.closing && end.name == "plist") || fail("a property list holding more than one value");
  }

  bool readValue(const Tag& open, int depth, PlistValue& out) {
    const std::string_view name = open.name;
    if (name == "dict" || name == "array") {
      if (depth >= kMaxDepth) return fail("containers nested deeper than 512 levels");
      if (!open.empty) return name == "dict" ? readDict(depth, out) : readArray(depth, out);
      out = name == "dict" ? PlistValue(PlistDict()) : PlistValue(PlistArray());
      return true;
    }
    static constexpr std::string_view kScalars[] = {"string", "integer", "real", "date",
                                                    "data",   "true",    "false"};
    if (std::find(std::begin(kScalars), std::end(kScalars), name) == std::end(kScalars))
      return fail(name == "key" ? "a key outside a dictionary" : "an element that is not a property-list value");
    std::string text;
    if (!open.empty && !readText(open, text)) return false;
    return scalarFromText(name, std::move(text), out);
  }

  bool scalarFromText(std::string_view name, std::string text, PlistValue& out) {
    if (name == "string") {
      out = PlistValue(std::move(text));
      return true;
    }
    if (name == "true" || name == "false") {
      out = PlistValue(name == "true");
      return trimmed(text).empty() || fail("text inside <true/> or <false/>");
    }
    if (name == "integer") {
      PlistInteger i;
      if (!parseInteger(trimmed(text), i)) return fail("an integer that is malformed or out of range");
      out = i;
      return true;
    }
    if (name == "real") {
      double r = 0;
      if (!parseReal(trimmed(text), r)) return fail("a real number that is malformed or out of range");
      out = r;
      return true;
    }
    if (name == "date") {
      PlistDate d;
      if (!parseIsoDate(trimmed(text), d.secondsSince2001)) return fail("a malformed date");
      out = d;
      return true;
    }
    PlistData d;
    if (!decodeBase64(text, d)) return fail("data that is not base64");
    out = std::move(d);
    return true;
  }

  bool readDict(int depth, PlistValue& out) {
    PlistDict members;
    for (;;) {
      Tag tag, valueTag;
      if (!skipMisc() || !readTag(tag)) return false;
      if (tag.closing) {
        if (tag.name != "dict") return fail("a mismatched end tag");
        out = PlistValue(std::move(members));
        return true;
      }
      if (tag.name != "key") return fail("a dictionary value without a key");
      std::string key;
      if (!tag.empty && !readText(tag, key)) return false;
      if (!skipMisc() || !readTag(valueTag)) return false;
      if (valueTag.closing) return fail("a dictionary key without a value");
      PlistValue value;
      if (!readValue(valueTag, depth + 1, value)) return false;
      members.set(key, std::move(value));
    }
  }

  bool readArray(int depth, PlistValue& out) {
    PlistArray items;
    for (;;) {
      Tag tag;
      if (!skipMisc() || !readTag(tag)) return false;
      if (tag.closing) {
        if (tag.name != "array") return fail("a mismatched end tag");
        out = PlistValue(std::move(items));
        return true;
      }
      PlistValue item;
      if (!readValue(tag, depth + 1, item)) return false;
      items.push_back(std::move(item));
    }
  }

  // Character data up to the end tag of `open`, line ends normalised to
  // "\n" as XML 1.0 requires; comments and processing instructions inside
  // are dropped, CDATA taken as it stands.
  bool readText(const Tag& open, std::string& text) {
    for (;;) {
      std::size_t stop = t_.find_first_of("<&", pos_);
      if (stop == std::string_view::npos) return fail("an element that is never closed");
      appendNormalised(t_.substr(pos_, stop - pos_), text);
      pos_ = stop;
      if (startsWith("&")) {
        if (!readReference(text)) return false;
      } else if (startsWith("<![CDATA[")) {
        std::size_t end = t_.find("]]>", pos_ + 9);
        if (end == std::string_view::npos) return fail("an unterminated CDATA section");
        appendNormalised(t_.substr(pos_ + 9, end - pos_ - 9), text);
        pos_ = end + 3;
      } else if (startsWith("<!--")) {
        if (!skipPast("-->", "an unterminated comment")) return false;
      } else if (startsWith("<?")) {
        if (!skipPast("?>", "an unterminated processing instruction")) return false;
      } else if (startsWith("</")) {
        Tag end;
        if (!readTag(end)) return false;
        if (end.name != open.name) return fail("a mismatched end tag");
        return checkText(text);
      } else {
        return fail("an element inside text");
      }
    }
  }

  static void appendNormalised(std::string_view chunk, std::string& text) {
    for (std::size_t i = 0; i < chunk.size(); ++i) {
      if (chunk[i] != '\r') {
        text.push_back(chunk[i]);
        continue;
      }
      text.push_back('\n');
      if (i + 1 < chunk.size() && chunk[i + 1] == '\n') ++i;
    }
  }

  bool readReference(std::string& text) {
    std::size_t end = t_.substr(0, pos_ + 12).find(';', pos_);  // "&#x10FFFF;" is the longest
    if (end == std::string_view::npos) return fail("a malformed entity reference");
    std::string_view name = t_.substr(pos_ + 1, end - pos_ - 1);
    pos_ = end + 1;
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& [entity, c] : kNamed)
      if (name == entity) {
        text.push_back(c);
        return true;
      }
    if (name.size() < 2 || name[0] != '#') return fail("an unknown entity");
    bool hex = name[1] == 'x';
    name.remove_prefix(hex ? 2 : 1);
    std::uint32_t cp = 0;
    auto [stop, error] = std::from_chars(name.data(), name.data() + name.size(), cp, hex ? 16 : 10);
    if (name.empty() || error != std::errc() || stop != name.data() + name.size() || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return fail("a malformed character reference");
    appendUtf8(cp, text);
    return true;
  }

  // What is read must be writable again: UTF-8 of XML characters only.
  bool checkText(std::string_view text) {
    for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
      std::int32_t cp = decodeUtf8(text, at, length);
      if (cp < 0) return fail("text that is not UTF-8");
      if (!isXmlChar(static_cast<std::uint32_t>(cp))) return fail("a character that XML 1.0 excludes");
    }
    return true;
  }

  std::string_view t_;
  std::size_t pos_ = 0;
  std::string problem_;
};

class XmlWriter {
 public:
  bool write(const PlistValue& top, std::string& text, std::string& problem) {
    out_ = kHeader;
    if (!value(top, 0)) {
      problem = problem_;
      return false;
    }
    out_ += "</plist>\n";
    text = std::move(out_);
    return true;
  }

 private:
  bool fail(const char* why) {
    problem_ = why;
    return false;
  }
  void indent(int level) { out_.append(static_cast<std::size_t>(level), '\t'); }

  bool element(int level, std::string_view name, std::string_view content, bool escape) {
    indent(level);
    out_ += '<';
    out_ += name;
    out_ += '>';
    if (escape && !escaped(content)) return false;
    if (!escape) out_ += content;
    out_ += "</";
    out_ += name;
    out_ += ">\n";
    return true;
  }

  bool escaped(std::string_view text) {
    for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
      std::int32_t cp = decodeUtf8(text, at, length);
      if (cp < 0) return fail("XML cannot hold text that is not UTF-8");
      if (cp == '\r') {
        out_ += "&#13;";  // a literal one would read back as "\n"
      } else if (!isXmlChar(static_cast<std::uint32_t>(cp))) {
        return fail("XML cannot hold a NUL or another character that XML 1.0 excludes");
      } else if (cp == '&' || cp == '<' || cp == '>') {
        out_ += cp == '&' ? "&amp;" : cp == '<' ? "&lt;" : "&gt;";
      } else {
        out_ += text.substr(at, length);
      }
    }
    return true;
  }

  bool value(const PlistValue& v, int level) {
    switch (v.kind()) {
      case PlistValue::Kind::Dict:
        return dict(*v.dict(), level);
      case PlistValue::Kind::Array:
        return array(*v.array(), level);
      case PlistValue::Kind::String:
        if (v.isRawAscii()) return fail("XML cannot hold a string of raw ASCII-typed bytes");
        return element(level, "string", *v.string(), true);
      case PlistValue::Kind::Integer:
        return element(level, "integer", v.integer()->toString(), false);
      case PlistValue::Kind::Real:
        return real(*v.real(), level);
      case PlistValue::Kind::Boolean:
        indent(level);
        out_ += *v.boolean() ? "<true/>\n" : "<false/>\n";
        return true;
      case PlistValue::Kind::Date: {
        std::string text;
        if (!formatIsoDate(v.date()->secondsSince2001, text))
          return fail("XML cannot hold a date that is not a whole second in years 1 to 9999");
        return element(level, "date", text, false);
      }
      case PlistValue::Kind::Data:
        data(*v.data(), level);
        return true;
      case PlistValue::Kind::Uid:
        return fail("XML cannot hold a UID");
    }
    return fail("a value of no known kind");
  }

  bool dict(const PlistDict& d, int level) {
    if (level >= kMaxDepth) return fail("containers nested deeper than 512 levels");
    indent(level);
    if (d.empty()) {
      out_ += "<dict/>\n";
      return true;
    }
    out_ += "<dict>\n";
    for (const auto& [key, member] : d.entries()) {
      if (d.isRawAsciiKey(key)) return fail("XML cannot hold a key of raw ASCII-typed bytes");
      if (!element(level + 1, "key", key, true) || !value(member, level + 1)) return false;
    }
    indent(level);
    out_ += "</dict>\n";
    return true;
  }

  bool array(const PlistArray& a, int level) {
    if (level >= kMaxDepth) return fail("containers nested deeper than 512 levels");
    indent(level);
    if (a.empty()) {
      out_ += "<array/>\n";
      return true;
    }
    out_ += "<array>\n";
    for (const PlistValue& item : a)
      if (!value(item, level + 1)) return false;
    indent(level);
    out_ += "</array>\n";
    return true;
  }

  // The shortest text that reads back to the same double; NaN only in its
  // plain form, since the text cannot carry a sign or payload.
  bool real(double r, int level) {
    if (std::isnan(r)) {
      if (!sameDouble(r, std::numeric_limits<double>::quiet_NaN()))
        return fail("XML cannot hold a NaN with a sign or payload");
      return element(level, "real", "nan", false);
    }
    if (std::isinf(r)) return element(level, "real", r > 0 ? "+infinity" : "-infinity", false);
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, r);
    return element(level, "real", std::string_view(buffer, result.ptr - buffer), false);
  }

  // Base64 lines at the element's indentation, each no longer than 76
  // columns counting a tab as 8.
  void data(const PlistData& d, int level) {
    indent(level);
    out_ += "<data>\n";
    const std::size_t lineChars = static_cast<std::size_t>(std::max(16, 76 - 8 * level)) / 4 * 4;
    const std::size_t lineBytes = lineChars / 4 * 3;
    for (std::size_t start = 0; start < d.size(); start += lineBytes) {
      indent(level);
      appendBase64(d.data() + start, std::min(lineBytes, d.size() - start));
      out_ += '\n';
    }
    indent(level);
    out_ += "</data>\n";
  }

  void appendBase64(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; i += 3) {
      std::uint32_t group = std::uint32_t{bytes[i]} << 16;
      if (i + 1 < count) group |= std::uint32_t{bytes[i + 1]} << 8;
      if (i + 2 < count) group |= bytes[i + 2];
      out_ += kBase64[group >> 18];
      out_ += kBase64[(group >> 12) & 0x3F];
      out_ += i + 1 < count ? kBase64[(group >> 6) & 0x3F] : '=';
      out_ += i + 2 < count ? kBase64[group & 0x3F] : '=';
    }
  }

  std::string out_;
  std::string problem_;
};

}  // namespace

bool parseXml(std::string_view text, PlistValue& top, std::string& problem) {
  return XmlReader(text).read(top, problem);
}

bool serializeXml(const PlistValue& top, std::string& text, std::string& problem) {
  return XmlWriter().write(top, text, problem);
}

}  // namespace tavo::plist
