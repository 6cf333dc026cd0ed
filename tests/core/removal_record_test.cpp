// The record of a removal in the user's data folder: what is written reads
// back the same, the newest first, and what cannot be read is passed over.

#include <sys/stat.h>
#include <unistd.h>

#include "core/removal_record.h"
#include "tests/support/capturing_log.h"
#include "tests/support/prefs_fixture.h"

namespace tavo::testing {
namespace {

using Kind = RecordStep::Kind;

TEST(RemovalRecordTest, ReadsBackWhatWasWrittenNewestFirstAndPassesOverWhatItCannotRead) {
  TempDir tree;
  CapturingLog log;
  const RecordFolder folder{tree / "data/TAVO_Uninstaller/removals"};
  RemovalRecord harp{"", "Harp", "K", 100, std::nullopt,
                     {{.path = "/h/Harp", .trashItem = "/h/T/files/Harp", .infoName = "Harp.trashinfo", .restored = true},
                      {.kind = Kind::Forgot, .identifier = "com.x", .receipt = dict({{"Receipt", PlistData{0, 255}}})},
                      {.kind = Kind::Deleted, .domain = "d", .keyPath = "B/x", .scope = PrefUser::Any,
                       .value = PlistValue(richDomain()), .position = 3}}};
  RemovalRecord drums{"", "Drums", "", 200, 250.5, {{.kind = Kind::Forgot, .identifier = "com.y"}}};
  RemovalRecord again{"", "Harp", "K", 100, std::nullopt, {}};  // the same second: a name of its own
  std::string error;
  for (RemovalRecord* record : {&harp, &drums, &again}) ASSERT_TRUE(saveRecord(folder, *record, error)) << error;
  EXPECT_EQ(again.id, harp.id + "-2");
  writeFile(folder.path + "/junk.plist", "not a record");
  writePlistFile(folder.path + "/odd.plist", dict({{"Product", "P"}, {"Time", PlistDate{50}},
                                                   {"Steps", PlistArray{dict({{"Kind", "moved"}})}}}), PlistFormat::Binary);
  const std::vector<RemovalRecord> read = listRecords(folder, log);
  EXPECT_EQ(read, (std::vector<RemovalRecord>{drums, again, harp, {"odd", "P", "", 50, std::nullopt, {}}}));
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"Removal record passed over: junk.plist",
                                                  "Removal record step passed over: odd: 1"}));
  struct stat file {}, records {};
  ::stat((folder.path + "/" + harp.id + ".plist").c_str(), &file);
  ::stat(folder.path.c_str(), &records);
  EXPECT_EQ((file.st_mode & 07777) << 12 | (records.st_mode & 07777), 0600u << 12 | 0700u);
}

}  // namespace
}  // namespace tavo::testing
