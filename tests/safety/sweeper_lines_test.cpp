#include "safety/sweeper_lines.h"

#include <gtest/gtest.h>

#include <tuple>

namespace tavo::sweeperlines {
namespace {

// Names a user may give a folder, each of which once split a line wrongly.
const char* const kAwkwardNames[] = {
    "/h/plain", "/h/tab\there", "/h/a -> b", "/h/c: d", "/h/e (copied: f)", "/h/back\\x41slash",
    "/h/line\rend", "/h/\xC3\xA9t\xC3\xA9", "/h/bad\xFF", "",
};

TEST(SweeperLinesTest, EveryKindReadsBackAsWrittenWhateverThePathHolds) {
  for (const char* name : kAwkwardNames) {
    const std::string path = name;
    const Line lines[] = {
        {.kind = Kind::Moved, .path = path, .where = path + " -> x"},
        {.kind = Kind::Moved, .path = path, .where = "/t/files/x", .copied = "a rename cannot reach it: a (b)"},
        {.kind = Kind::PartlyMoved, .path = path, .where = path, .detail = "what changed: stays"},
        {.kind = Kind::PartlyMoved, .path = path, .where = "/w", .detail = "x", .copied = "why"},
        {.kind = Kind::Copying, .path = path, .done = 123, .total = 18446744073709551615u},
        {.kind = Kind::Skipped, .path = path, .detail = "does not exist"},
        {.kind = Kind::Refused, .path = path, .detail = "resolves to /etc\tx: which is: shared"},
        {.kind = Kind::NotMoved, .path = path, .detail = "cannot move it: Permission denied"},
        {.kind = Kind::Fatal, .detail = "usage: " + path},
    };
    for (const Line& line : lines) {
      const std::string text = encode(line);
      SCOPED_TRACE(text);
      EXPECT_EQ(text.find_first_of("\n\t\r"), std::string::npos);
      std::optional<Line> back = decode(text);
      ASSERT_TRUE(back);
      auto fields = [](const Line& l) { return std::tuple(l.kind, l.path, l.where, l.detail, l.copied, l.done, l.total); };
      EXPECT_EQ(fields(*back), fields(line));
    }
  }
}

TEST(SweeperLinesTest, PlainPathsReadAsTheyAlwaysDidAndStrangeLinesAreNoneOfOurs) {
  EXPECT_EQ(encode({.kind = Kind::Moved, .path = "/a/b c", .where = "/t/files/b c"}),
            "moved: /a/b c -> /t/files/b c");
  EXPECT_EQ(encode({.kind = Kind::Moved, .path = "/a:b", .where = "/t/files/a:b", .copied = "why"}),
            "moved: /a\\x3Ab -> /t/files/a\\x3Ab (copied: why)");
  EXPECT_EQ(encode({.kind = Kind::NotMoved, .path = "/a", .detail = "x\ny"}), "not moved: /a: x\\x0Ay");
  for (const char* text : {"", "moved /a -> /b", "moved: /a", "moved: /a -> /b (trailing", "moved: /a:b -> /b",
                           "moved: /a\\x4 -> /b", "moved: /a\\q -> /b", "copying: /a: 1 of x bytes",
                           "copying: /a: 1 of 2", "partly moved: /a -> /b", "unknown: /a: b"}) {
    EXPECT_FALSE(decode(text)) << text;
  }
}

}  // namespace
}  // namespace tavo::sweeperlines
