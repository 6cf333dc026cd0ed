// sweeper's list file and the safety table. The text splits into lines that
// give the text back; doubled, trailing and single slashes get the same answer,
// a "." component is always refused, and what the table lets through still
// passes, unchanged, once its parent folders are resolved. The paths are
// judged against this machine's real folders, read only; nothing is moved.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "base/path.h"
#include "safety/path_safety.h"
#include "tests/fuzz/fuzz_check.h"
#include "tools/sweeper/list_text.h"

namespace {

// More lines add little but time: the table is tried on each one several times.
constexpr std::size_t kMaxLinesChecked = 4;

const tavo::SafetyContext kContext{"/home/fuzz", "/home/fuzz/.local/share/Trash"};

tavo::Judgement judge(const std::string& path) {
  static const tavo::SafetyCheck check(kContext);  // the mount table is read once
  return check.judge(path);
}

std::optional<std::string> refusal(const std::string& path) { return judge(path).refusal; }

// Absolute, without NUL or line feed, without "." or ".." components: the
// paths for which the table, not the form, gives the answer.
bool wellFormed(const std::string& path) {
  if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos ||
      path.find('\n') != std::string::npos)
    return false;
  for (const std::string& part : tavo::splitPath(path))
    if (part == "." || part == "..") return false;
  return true;
}

std::string withSlashesDoubled(const std::string& path) {
  std::string out;
  for (char c : path) out += c == '/' ? std::string("//") : std::string(1, c);
  return out;
}

std::string withSingleSlashes(const std::string& path) {
  std::string out;
  for (char c : path)
    if (c != '/' || out.empty() || out.back() != '/') out += c;
  return out;
}

void checkSpellings(const std::string& path) {
  const std::optional<std::string> answer = refusal(path);
  if (!wellFormed(path)) {
    TAVO_FUZZ_CHECK(answer, "a malformed path is let through");
    TAVO_FUZZ_CHECK(!tavo::resolveParents(path), "a malformed path resolves");
    return;
  }
  TAVO_FUZZ_CHECK(refusal(withSlashesDoubled(path)) == answer,
                  "doubling the slashes changes the answer");
  TAVO_FUZZ_CHECK(refusal(path + "/") == answer,
                  "a trailing slash changes the answer");
  TAVO_FUZZ_CHECK(refusal(withSingleSlashes(path)) == answer,
                  "single slashes change the answer");
  TAVO_FUZZ_CHECK(refusal("/." + path).has_value(),
                  "a \".\" component is let through");
  if (answer) return;
  std::optional<std::string> resolved = tavo::resolveParents(path);
  TAVO_FUZZ_CHECK(resolved.has_value(), "a path let through does not resolve");
  TAVO_FUZZ_CHECK(judge(path).location == resolved, "the check judged another location");
  TAVO_FUZZ_CHECK(tavo::splitPath(*resolved).size() >= 2,
                  "the root or an entry directly under it is let through");
  TAVO_FUZZ_CHECK(!refusal(*resolved),
                  "the resolved spelling of a path let through is refused");
  TAVO_FUZZ_CHECK(tavo::resolveParents(*resolved) == resolved, "resolving twice changes the path");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const tavo::ListText list = tavo::splitListText(text);
  std::string joined;
  for (const std::string& line : list.lines) {
    TAVO_FUZZ_CHECK(line.find('\n') == std::string::npos, "a line holds a line feed");
    joined += line + "\n";
  }
  if (list.unterminated) {
    TAVO_FUZZ_CHECK(!list.unterminated->empty() && list.unterminated->find('\n') == std::string::npos,
                    "the unterminated rest is empty or holds a line feed");
    joined += *list.unterminated;
  }
  TAVO_FUZZ_CHECK(joined == text, "the lines do not give back the text");

  for (std::size_t i = 0; i < list.lines.size() && i < kMaxLinesChecked; ++i)
    checkSpellings(list.lines[i]);
  if (list.unterminated) checkSpellings(*list.unterminated);
  return 0;
}
