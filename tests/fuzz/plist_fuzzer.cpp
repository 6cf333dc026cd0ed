// The property-list codec, the key-path walk and both deletions. Whatever a
// file holds, reading it gives a dictionary or a reason; what is read writes
// back in its own format, reads back equal and writes again to the same bytes,
// and the other format, when it takes the value, reads back equal too. A key
// path drawn from the input is then deleted through the real store, for the
// current user and for all users: each file reads back less exactly the entry
// the lenient walk reaches, or stays byte for byte when it reaches none.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "prefs/file_prefs_store.h"
#include "prefs/key_path_walk.h"
#include "plist/plist_file.h"
#include "prefs/key_path.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/prefs_fixture.h"

namespace {

using tavo::PlistDict;
using tavo::PlistFile;
using tavo::PlistFormat;
using tavo::PlistValue;
using tavo::testing::readFile;
using tavo::testing::writeFile;

constexpr const char* kDomain = "com.fuzz.domain";
constexpr const char* kAbsentName = "\x01 absent";

// A small deterministic generator seeded by the input, so that a reproducer
// draws the same key path every time.
class Draw {
 public:
  explicit Draw(std::string_view bytes) {
    for (unsigned char c : bytes) state_ = (state_ ^ c) * 0x100000001b3ull;
  }
  std::uint64_t below(std::uint64_t n) {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return n == 0 ? 0 : (state_ >> 33) % n;
  }

 private:
  std::uint64_t state_ = 0xcbf29ce484222325ull;
};

// Names of members that are there, with now and then one that is not, so the
// walk's rule for an absent name is taken too.
std::vector<std::string> drawKeyPath(const PlistDict& top, Draw& draw) {
  std::vector<std::string> names;
  const PlistDict* node = &top;
  const std::size_t count = 1 + draw.below(5);
  for (std::size_t i = 0; i < count; ++i) {
    if (!node || node->empty() || draw.below(5) == 0) {
      names.emplace_back(kAbsentName);
      continue;
    }
    const auto& entry = node->entries()[draw.below(node->size())];
    names.push_back(entry.first);
    node = entry.second.dict();
  }
  return names;
}

// The lenient walk in the words of the deletion's description, on the
// domain's dictionary: each name after the first is looked up in the
// dictionary reached; a present name is followed, removed when it is the
// last; an absent one leaves the walk where it was. True when removed.
bool removeAsDescribed(PlistDict& domain, const std::vector<std::string>& names) {
  PlistValue* node = domain.find(names[0]);
  if (!node) return false;
  for (std::size_t i = 1; i < names.size(); ++i) {
    PlistDict* dict = node->dict();
    if (!dict) return false;
    PlistValue* member = dict->find(names[i]);
    if (member && i + 1 == names.size()) return dict->remove(names[i]);
    if (member) node = member;
  }
  return false;
}

void checkRoundTrip(const PlistFile& file) {
  std::string bytes, again, problem;
  TAVO_FUZZ_CHECK(tavo::serializePlist(file.dict, file.format, bytes, &problem),
                  "what was read cannot be written back in its format: " + problem);
  const PlistFile reread = tavo::parsePlist(bytes);
  TAVO_FUZZ_CHECK(reread.state == PlistFile::State::Ok && reread.format == file.format,
                  "what was written cannot be read: " + reread.problem);
  TAVO_FUZZ_CHECK(reread.dict == file.dict, "what was written reads back different");
  TAVO_FUZZ_CHECK(tavo::serializePlist(reread.dict, reread.format, again) && again == bytes,
                  "writing what was read back gives other bytes");

  const PlistFormat other = file.format == PlistFormat::Binary ? PlistFormat::Xml : PlistFormat::Binary;
  std::string converted;
  if (!tavo::serializePlist(file.dict, other, converted)) return;
  const PlistFile fromOther = tavo::parsePlist(converted);
  TAVO_FUZZ_CHECK(fromOther.state == PlistFile::State::Ok && fromOther.dict == file.dict,
                  "what the other format took reads back different");
}

// The store over preference folders made once for the whole run; its folder goes at exit.
struct Store {
  tavo::testing::TempPrefs prefs;
  tavo::NullLog log;
  tavo::FilePrefsStore store{prefs.roots(), log};
};

// One deletion through the store: the file reads back as `expected` after a
// removal, and is untouched otherwise.
void checkDeletion(const std::string& path, const std::string& bytes, const PlistFile& file,
                   bool removed, const PlistDict& expected, bool answer, bool firstKeyThere) {
  if (!removed) {
    TAVO_FUZZ_CHECK(readFile(path) == bytes, "a deletion that removed nothing changed the file");
    TAVO_FUZZ_CHECK(answer == !firstKeyThere, "the deletion's answer without a removal");
    return;
  }
  TAVO_FUZZ_CHECK(answer, "a removal was not reported");
  const PlistFile after = tavo::readPlistFile(path);
  TAVO_FUZZ_CHECK(after.state == PlistFile::State::Ok && after.format == file.format,
                  "the written-back file cannot be read in its format: " + after.problem);
  TAVO_FUZZ_CHECK(after.dict == expected, "the file reads back other than less the entry");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const PlistFile file = tavo::parsePlist(bytes);
  TAVO_FUZZ_CHECK(file.state != PlistFile::State::Missing, "bytes read as a missing file");
  TAVO_FUZZ_CHECK((file.state == PlistFile::State::Ok) == file.problem.empty(),
                  "an unreadable file without a reason, or a readable one with one");
  if (file.state == PlistFile::State::Ok) checkRoundTrip(file);

  Draw draw(bytes);
  const std::vector<std::string> names = drawKeyPath(file.dict, draw);
  PlistDict expected = file.dict;
  const bool removed = removeAsDescribed(expected, names);
  const PlistValue* top = file.dict.find(names[0]);
  if (top) {
    TAVO_FUZZ_CHECK(tavo::lenientKeyPathExists(*top, names) == removed,
                    "the existence test and the deletion disagree");
  }
  static Store s;
  const std::string userFile = s.prefs.userFile(kDomain), anyUserFile = s.prefs.anyUserFile(kDomain);
  writeFile(userFile, bytes);
  writeFile(anyUserFile, bytes);
  const bool current = tavo::prefs::deleteCurrentUserPrefKey(s.store, kDomain, names);
  checkDeletion(userFile, bytes, file, removed, expected, current, top != nullptr);
  const tavo::prefs::KeyDeletion done =
      tavo::prefs::deletePrefKey(s.store, kDomain, names, tavo::PrefUser::Any, tavo::PrefHost::Current);
  TAVO_FUZZ_CHECK(done != tavo::prefs::KeyDeletion::WriteFailed, "the any-user write-back failed");
  const bool anyUser = done == tavo::prefs::KeyDeletion::Deleted || done == tavo::prefs::KeyDeletion::Absent;
  checkDeletion(anyUserFile, bytes, file, removed, expected, anyUser, top != nullptr);
  return 0;
}
