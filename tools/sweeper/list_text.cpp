#include "tools/sweeper/list_text.h"

namespace tavo {

ListText splitListText(std::string_view text) {
  ListText list;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1) {
    list.lines.emplace_back(text.substr(start, end - start));
  }
  if (start < text.size()) list.unterminated.emplace(text.substr(start));
  return list;
}

}  // namespace tavo
