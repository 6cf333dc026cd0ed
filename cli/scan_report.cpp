#include "cli/scan_report.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/io.h"
#include "base/utf8.h"
#include "core/log_lines.h"

namespace tavo {
namespace {

// Collects a document and, when it has a descriptor, hands it on whenever a
// piece has built up; without one it keeps the whole document.
class ReportOut {
 public:
  explicit ReportOut(int fd = -1) : fd_(fd) {}
  std::string& text() { return text_; }
  void maybeFlush() {
    if (fd_ >= 0 && text_.size() >= kPiece) flush();
  }
  bool flush() {
    if (ok_ && fd_ >= 0 && !writeAll(fd_, text_)) ok_ = false;
    if (fd_ >= 0) text_.clear();
    return ok_;
  }

 private:
  static constexpr std::size_t kPiece = 64 * 1024;
  int fd_;
  bool ok_ = true;
  std::string text_;
};

void appendEscaped(std::string& out, unsigned char c) {
  switch (c) {
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case '\b': out += "\\b"; return;
    case '\f': out += "\\f"; return;
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
  }
  if (c < 0x20) {
    char code[8];
    std::snprintf(code, sizeof code, "\\u%04x", c);
    out += code;
    return;
  }
  out += static_cast<char>(c);
}

bool passesAsIs(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

// The same test for eight bytes at once.
bool passAsIs(std::uint64_t bytes) {
  constexpr std::uint64_t ones = 0x0101010101010101, highs = 0x8080808080808080;
  auto hasZero = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
  std::uint64_t below20 = (bytes - 0x20 * ones) & ~bytes & highs;
  return !((bytes & highs) | below20 | hasZero(bytes ^ ('"' * ones)) |
           hasZero(bytes ^ ('\\' * ones)));
}

// The end of the run from `at` of bytes that need no more than a copy.
std::size_t plainRunEnd(std::string_view text, std::size_t at) {
  for (std::uint64_t bytes; at + 8 <= text.size(); at += 8) {
    std::memcpy(&bytes, text.data() + at, 8);
    if (!passAsIs(bytes)) break;
  }
  while (at < text.size() && passesAsIs(static_cast<unsigned char>(text[at]))) ++at;
  return at;
}

// Runs of plain ASCII, which is nearly all of a path, are copied whole.
void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t at = 0; at < text.size();) {
    std::size_t run = plainRunEnd(text, at);
    out.append(text, at, run - at);
    if (run == text.size()) break;
    at = run;
    std::size_t length = utf8SequenceLength(text, at);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++at;
    } else if (length == 1) {
      appendEscaped(out, static_cast<unsigned char>(text[at++]));
    } else {
      out.append(text, at, length);
      at += length;
    }
  }
  out += '"';
}

void appendJsonOrNull(std::string& out, const std::optional<std::string>& text) {
  if (text)
    appendJsonString(out, *text);
  else
    out += "null";
}

void jsonArray(ReportOut& out, const char* key, const Product::List& list) {
  out.text() += key;
  out.text() += '[';
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i > 0) out.text() += ", ";
    appendJsonString(out.text(), list[i]);
    out.maybeFlush();
  }
  out.text() += ']';
}

void jsonProduct(ReportOut& out, const Product& p) {
  out.text() += "{\"name\": ";
  appendJsonOrNull(out.text(), p.name());
  out.text() += ", \"vendor\": ";
  appendJsonOrNull(out.text(), p.vendor());
  jsonArray(out, ", \"paths\": ", p.paths());
  jsonArray(out, ", \"dirs\": ", p.dirs());
  jsonArray(out, ", \"prefVars\": ", p.prefVars());
  jsonArray(out, ", \"prefFiles\": ", p.prefFiles());
  jsonArray(out, ", \"recps\": ", p.recps());
  out.text() += '}';
}

bool json(ReportOut& out, const ProductList& products) {
  out.text() += "{\"products\": [";
  for (std::size_t i = 0; i < products.size(); ++i) {
    if (i > 0) out.text() += ", ";
    jsonProduct(out, *products[i]);
  }
  out.text() += "]}\n";
  return out.flush();
}

void textList(ReportOut& out, const char* title, const Product::List& list) {
  out.text() += std::string("  ") + title + " (" + std::to_string(list.size()) + "):\n";
  for (const std::string& entry : list) {
    out.text() += "    ";
    out.text() += entry;
    out.text() += '\n';
    out.maybeFlush();
  }
}

bool text(ReportOut& out, const ProductList& products) {
  for (const auto& product : products) {
    out.text() += loglines::text(product->name()) + "\n";
    out.text() += "  vendor: " + loglines::text(product->vendor()) + "\n";
    textList(out, "paths", product->paths());
    textList(out, "dirs", product->dirs());
    textList(out, "prefVars", product->prefVars());
    textList(out, "prefFiles", product->prefFiles());
    textList(out, "recps", product->recps());
  }
  return out.flush();
}

}  // namespace

std::string jsonString(std::string_view text) {
  std::string out;
  appendJsonString(out, text);
  return out;
}

std::string jsonArray(const std::vector<std::string>& list) {
  ReportOut out;
  jsonArray(out, "", list);
  return std::move(out.text());
}

std::string productsJson(const ProductList& products) {
  ReportOut out;
  json(out, products);
  return std::move(out.text());
}

std::string productsText(const ProductList& products) {
  ReportOut out;
  text(out, products);
  return std::move(out.text());
}

bool writeProductsJson(int fd, const ProductList& products) {
  ReportOut out(fd);
  return json(out, products);
}

bool writeProductsText(int fd, const ProductList& products) {
  ReportOut out(fd);
  return text(out, products);
}

}  // namespace tavo
