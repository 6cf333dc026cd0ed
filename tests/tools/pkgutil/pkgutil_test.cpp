#include <gtest/gtest.h>

#include "plist/plist_file.h"
#include "tests/support/prefs_fixture.h"
#include "tests/support/throwaway_root.h"
#include "tests/support/tool_run.h"

namespace tavo::testing {
namespace {

using Strings = std::vector<std::string>;

// A receipt com.x in a receipts folder, and a root folder for the test build of the tool.
class Pkgutil : public ::testing::Test {
 protected:
  void SetUp() override {
    TAVO_REQUIRE_THROWAWAY_ROOT();  // root-level: the real tool, run as root
    writeFile(receipts() + "/com.x.plist", "<plist/>");
  }
  std::string receipts() const { return dir_ / "receipts"; }
  std::string root() const { return dir_ / "root"; }
  ToolRun pkgutil(Strings args, const std::string& input = "") {
    args.insert(args.begin(), TAVO_PKGUTIL_TESTROOT);
    return runArgv(args, {"TAVO_TEST_RECEIPTS_DIR=" + receipts(), "TAVO_TEST_ROOT=" + root()}, input);
  }
  TempDir dir_;
};

TEST_F(Pkgutil, FilesPrintsTheBillOfMaterialsAndForgetRemovesTheReceipt) {
  const std::string bom = "./Applications/TAVO.app\nApplications/TAVO.app/Contents\nLibrary\n";
  writeFile(receipts() + "/com.x.bom", bom);
  ToolRun files = pkgutil({"--files", "com.x"}), forget = pkgutil({"--forget", "com.x"});
  EXPECT_EQ(files.status, 0);
  EXPECT_EQ(files.out, bom);
  EXPECT_EQ(forget.status, 0) << forget.err;
  EXPECT_EQ(forget.out, "Forgot package 'com.x' on '/'.\n");
  EXPECT_FALSE(exists(receipts() + "/com.x.plist") || exists(receipts() + "/com.x.bom"));
}

// --restore puts back exactly what --forget kept, never the caller's: a bill
// of materials says what --unlink removes as root.
TEST_F(Pkgutil, AForgottenReceiptComesBackOnlyAsItWasKept) {
  writeFile(receipts() + "/com.x.bom", "Library/X\n");
  ToolRun exported = pkgutil({"--export", "com.x"});
  const auto bytes = [](const std::string& text) { return PlistValue(PlistData(text.begin(), text.end())); };
  EXPECT_EQ(parsePlist(exported.out).dict, dict({{"Receipt", bytes("<plist/>")}, {"BillOfMaterials", bytes("Library/X\n")}}));
  std::string forged;
  ASSERT_TRUE(serializePlist(dict({{"Receipt", bytes("<plist/>")}, {"BillOfMaterials", bytes("etc/shadow\n")}}),
                             PlistFormat::Binary, forged));
  ASSERT_EQ(pkgutil({"--forget", "com.x"}).status, 0);
  // What is given, and what the run says.
  const std::pair<std::string, std::string> rows[] = {
      {forged, "pkgutil: the receipt of 'com.x' kept is not the one given\n"}, {exported.out, ""},
      {exported.out, "pkgutil: 'com.x' has a receipt already\n"}};
  for (const auto& [given, said] : rows) EXPECT_EQ(pkgutil({"--restore", "com.x"}, given).err, said);
  EXPECT_EQ(readFile(receipts() + "/com.x.plist") + readFile(receipts() + "/com.x.bom"), "<plist/>Library/X\n");
  EXPECT_EQ(pkgutil({"--restore", "com.y"}, exported.out).err, "pkgutil: no forgotten receipt of 'com.y' is kept\n");
}

TEST_F(Pkgutil, AMissingReceiptIsReportedForEveryOption) {
  std::filesystem::create_directories(receipts() + "/com.dir.plist");  // not a regular file
  writeFile(receipts() + "/com.bomonly.bom", "x\n");
  for (const char* option : {"--files", "--forget", "--unlink", "--export"}) {
    for (const std::string id : {"com.none", "com.dir", "com.bomonly"}) {
      ToolRun run = pkgutil({option, id});
      EXPECT_EQ(run.status, 1) << option << " " << id;
      EXPECT_EQ(run.err, "No receipt for '" + id + "' found at '/'.\n");
      EXPECT_EQ(run.out, "");
    }
  }
  EXPECT_TRUE(exists(receipts() + "/com.bomonly.bom"));
  // The listing names exactly what "--files" finds, each on a line of its own.
  writeFile(receipts() + "/com.a\ncom.y.plist", "");
  writeFile(receipts() + "/...plist", "");  // ".." is refused
  writeFile(receipts() + "/com.w.plist", "");
  ASSERT_EQ(symlink("com.x.plist", (receipts() + "/com.l.plist").c_str()) |
                symlink("com.none.plist", (receipts() + "/com.gone.plist").c_str()), 0);
  ToolRun listed = pkgutil({"--pkgs"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.out, "com.l\ncom.w\ncom.x\n");
}

TEST_F(Pkgutil, RefusesWhatIsNotAPlainIdentifierOrCommandLine) {
  writeFile(dir_ / "outside.plist", "<plist/>");
  const Strings bad[] = {
      {"--forget", ""}, {"--forget", "."}, {"--forget", ".."}, {"--forget", "a/b"},
      {"--forget", "../outside"}, {"--forget", "/com.x"}, {"--files", "../receipts/com.x"},
      {"--unlink", "./com.x"}, {}, {"--forget"}, {"--erase", "com.x"}, {"--forget", "com.x", "x"},
      {"--pkgs", "com.x"}};
  for (const Strings& args : bad) {
    ToolRun run = pkgutil(args);
    EXPECT_EQ(run.status, 1) << ::testing::PrintToString(args);
    EXPECT_EQ(run.out, "");
  }
  EXPECT_TRUE(exists(receipts() + "/com.x.plist") && exists(dir_ / "outside.plist"));
}

TEST_F(Pkgutil, UnlinkRemovesTheListedFilesAndOnlyEmptyFolders) {
  writeFile(root() + "/Applications/TAVO.app/Contents/binary", "b");
  writeFile(root() + "/Library/VST3/TAVO.vst3", "v");
  writeFile(root() + "/Library/VST3/Other.vst3", "another package's");
  writeFile(dir_ / "target/kept", "k");
  const std::string link = root() + "/Applications/TAVO.app/Contents/lib";
  ASSERT_EQ(symlink((dir_ / "target").c_str(), link.c_str()), 0);
  // Shallow paths first, so that only the tool's own order can make it work.
  writeFile(receipts() + "/com.x.bom",
            ".\n./Applications\n./Applications/TAVO.app\n./Applications/TAVO.app/Contents\n"
            "./Applications/TAVO.app/Contents/binary\n./Applications/TAVO.app/Contents/lib\n"
            "Library\nLibrary/VST3\nLibrary/VST3/TAVO.vst3\n./Library/missing/file\n");
  EXPECT_EQ(pkgutil({"--unlink", "com.x"}).status, 0);
  EXPECT_FALSE(exists(root() + "/Applications/TAVO.app") || exists(root() + "/Library/VST3/TAVO.vst3"));
  EXPECT_TRUE(exists(root() + "/Applications"));  // directly under the root: the safety table keeps it
  EXPECT_EQ(readFile(root() + "/Library/VST3/Other.vst3"), "another package's");
  EXPECT_EQ(readFile(dir_ / "target/kept"), "k");  // the link went, not what it points to
  EXPECT_TRUE(exists(root()) && exists(receipts() + "/com.x.plist"));
}

// A bill of materials never leads the removal out of the root, through a link
// among the parent folders, or to what the safety table keeps.
TEST_F(Pkgutil, UnlinkRemovesNothingThroughALinkOrThatTheSafetyTableKeeps) {
  writeFile(dir_ / "victim", "v");
  writeFile(dir_ / "elsewhere/victim", "v");
  writeFile(root() + "/home/bob/.ssh/id", "k");
  writeFile(root() + "/topfile", "t");
  std::filesystem::create_directories(root() + "/presets");
  ASSERT_EQ(symlink((dir_ / "elsewhere").c_str(), (root() + "/out").c_str()) |
                symlink((root() + "/home/bob").c_str(), (root() + "/presets/link").c_str()), 0);
  writeFile(receipts() + "/com.x.bom", "../victim\n./a/../../victim\nout/victim\npresets/link/.ssh/id\ntopfile\n");
  ToolRun run = pkgutil({"--unlink", "com.x"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(exists(dir_ / "victim") && exists(dir_ / "elsewhere/victim") &&
              exists(root() + "/home/bob/.ssh/id") && exists(root() + "/topfile"));
  EXPECT_NE(run.err.find("Refusing /presets/link/.ssh/id: a folder on its way is a link"), std::string::npos);
  EXPECT_NE(run.err.find("Refusing /topfile: is a folder directly under the root folder\n"), std::string::npos);
}

// Through pkexec it acts only on a receipt that an installed product names,
// and for a user named by a plain number: the safety table protects that user's home.
TEST_F(Pkgutil, UnderPkexecForgetsOnlyANamedReceipt) {
  writeFile(receipts() + "/com.y.plist", "<plist/>");
  const std::string tool =
      bundled(TAVO_PKGUTIL_TESTROOT, dir_ / "B.app", "MacOS", "P\nV\n-\n$_pkg(com.x)$\n-\n");
  for (const std::string uid : {"", "x", "-1", "0x", "99999999999999999999", "4294967295"}) {
    ToolRun run = runTool(tool, {"--forget", "com.x"}, {"TAVO_TEST_RECEIPTS_DIR=" + receipts(), "PKEXEC_UID=" + uid});
    EXPECT_EQ(run.err, "pkgutil: PKEXEC_UID is not a user id\n") << uid;
  }
  EXPECT_TRUE(exists(receipts() + "/com.x.plist"));
  const Strings env = {"TAVO_TEST_RECEIPTS_DIR=" + receipts(), "PKEXEC_UID=0"};
  ToolRun named = runTool(tool, {"--forget", "com.x"}, env), other = runTool(tool, {"--forget", "com.y"}, env);
  EXPECT_EQ(other.status, 1);
  EXPECT_EQ(other.err, "pkgutil: 'com.y' is not a package that an installed product names\n");
  EXPECT_FALSE(exists(receipts() + "/com.x.plist"));
  EXPECT_TRUE(exists(receipts() + "/com.y.plist"));
}

}  // namespace
}  // namespace tavo::testing
