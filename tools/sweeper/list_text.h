#pragma once
// The text of sweeper's list file taken apart into its lines.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavo {

struct ListText {
  std::vector<std::string> lines;          // every line ended by a line feed, without it
  std::optional<std::string> unterminated;  // text after the last line feed, if any
};

/// Splits `text` at every line feed. Text after the last line feed is kept
/// apart, never taken as a path: a list cut short could end in the first part
/// of another file's name.
ListText splitListText(std::string_view text);

}  // namespace tavo
