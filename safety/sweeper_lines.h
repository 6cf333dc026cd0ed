#pragma once
// sweeper's report: one line per listed path on its standard output, written
// by sweeper and read back by the application, here in one place so that the
// two never disagree.
//
//   moved: PATH -> WHERE                 WHERE is the item's path in its trash
//   moved: PATH -> WHERE (copied: WHY)   copied into the home Trash, and why
//   partly moved: PATH -> WHERE: WHAT    a copy is in the trash, but WHAT stays at PATH
//                                        (with " (copied: WHY)" after it, as above)
//   copying: PATH: DONE of TOTAL bytes   progress within a long copy
//   skipped: PATH: WHY                   it does not exist
//   refused: PATH: WHY                   the safety table, or a malformed line
//   not moved: PATH: WHY                 it stays where it was
//   sweeper: WHY                         the run cannot start
//
// PATH and WHERE are escaped so that a line always splits one way: control
// bytes, "\", ":", ">" and "(" are written "\xNN". WHY and WHAT, sweeper's own
// words, have only their control bytes and "\" escaped.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavo::sweeperlines {

enum class Kind { Moved, PartlyMoved, Copying, Skipped, Refused, NotMoved, Fatal };

struct Line {
  Kind kind = Kind::Fatal;
  std::string path = {};    // the listed path; empty for Fatal
  std::string where = {};   // Moved, PartlyMoved: where it went
  std::string detail = {};  // PartlyMoved: what stays; Skipped, Refused, NotMoved, Fatal: why
  std::string copied = {};  // Moved, PartlyMoved: why it was copied; empty when it was renamed
  std::uint64_t done = 0, total = 0;  // Copying: bytes copied so far, of all
};

/// The line for `line`, without its line feed.
std::string encode(const Line& line);

/// The line `text` (without its line feed) taken apart; nullopt when it is
/// not one that encode() writes.
std::optional<Line> decode(std::string_view text);

/// `text` with control bytes and "\" written "\xNN": what a human reads of
/// sweeper's own words.
std::string escapeText(std::string_view text);

}  // namespace tavo::sweeperlines
