#include "core/summary.h"

namespace tavo {
namespace {

void appendSection(std::string& text, const char* heading, const Product::List& entries) {
  if (entries.empty()) return;
  text += heading;
  for (const std::string& entry : entries) text += entry + "\n";
}

}  // namespace

std::string summaryText(const Product& product) {
  std::string text;
  appendSection(text, "\nReceipts:\n\n", product.recps());
  appendSection(text, "\n\nPreference Vars:\n\n", product.prefVars());
  appendSection(text, "\n\nPreference Files:\n\n", product.prefFiles());
  appendSection(text, "\n\nPaths:\n\n", product.paths());
  return text;
}

}  // namespace tavo
