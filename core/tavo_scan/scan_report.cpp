#include "core/tavo_scan/scan_report.h"

#include <cstdio>

#include "base/utf8.h"
#include "platform/log_lines.h"

namespace tavo {
namespace {

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

std::string jsonOrNull(const std::optional<std::string>& text) {
  return text ? jsonString(*text) : "null";
}

std::string jsonProduct(const Product& p) {
  return "{\"name\": " + jsonOrNull(p.name()) + ", \"vendor\": " + jsonOrNull(p.vendor()) +
         ", \"paths\": " + jsonArray(p.paths()) + ", \"dirs\": " + jsonArray(p.dirs()) +
         ", \"prefVars\": " + jsonArray(p.prefVars()) +
         ", \"prefFiles\": " + jsonArray(p.prefFiles()) + ", \"recps\": " + jsonArray(p.recps()) +
         "}";
}

void appendTextList(std::string& out, const char* title, const Product::List& list) {
  out += std::string("  ") + title + " (" + std::to_string(list.size()) + "):\n";
  for (const std::string& entry : list) out += "    " + entry + "\n";
}

}  // namespace

std::string jsonArray(const std::vector<std::string>& list) {
  std::string out = "[";
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i > 0) out += ", ";
    out += jsonString(list[i]);
  }
  return out + "]";
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = utf8SequenceLength(text, at);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++at;
    } else if (length == 1) {
      appendEscaped(out, static_cast<unsigned char>(text[at++]));
    } else {
      out.append(text.substr(at, length));
      at += length;
    }
  }
  return out + "\"";
}

std::string productsJson(const ProductList& products) {
  std::string out = "{\"products\": [";
  for (std::size_t i = 0; i < products.size(); ++i) {
    if (i > 0) out += ", ";
    out += jsonProduct(*products[i]);
  }
  return out + "]}\n";
}

std::string productsText(const ProductList& products) {
  std::string out;
  for (const auto& product : products) {
    out += loglines::text(product->name()) + "\n";
    out += "  vendor: " + loglines::text(product->vendor()) + "\n";
    appendTextList(out, "paths", product->paths());
    appendTextList(out, "dirs", product->dirs());
    appendTextList(out, "prefVars", product->prefVars());
    appendTextList(out, "prefFiles", product->prefFiles());
    appendTextList(out, "recps", product->recps());
  }
  return out;
}

}  // namespace tavo
