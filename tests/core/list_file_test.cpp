#include "core/list_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/removal_preview.h"
#include "tests/support/capturing_log.h"
#include "tests/support/temp_dir.h"

namespace tavo::testing {
namespace {

namespace fs = std::filesystem;

class ListFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.write("Resources/listPath.txt", "", 0644);
    ::chmod((root + "/Resources").c_str(), 0755);
  }
  static mode_t modeOf(const std::string& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st.st_mode & 07777;
  }

  TempDir dir;
  std::string root = dir.path();
  CapturingLog log;
};

// Root's own bundle file is the package's: root never writes it.
TEST_F(ListFileTest, TheBundleFileIsUsedOnlyWhenNobodyElseCanWriteIt) {
  std::string bundleFile = root + "/Resources/listPath.txt";
  std::string privateFolder = root + "/private/TAVO_Uninstaller";
  EXPECT_EQ(chooseListFile(bundleFile, privateFolder, log),
            ::geteuid() == 0 ? privateFolder + "/listPath.txt" : bundleFile);

  for (auto [path, mode] : {std::pair{bundleFile, 0666}, std::pair{root + "/Resources", 0777}}) {
    ::chmod(path.c_str(), mode);
    EXPECT_EQ(chooseListFile(bundleFile, privateFolder, log), privateFolder + "/listPath.txt");
    EXPECT_EQ(modeOf(privateFolder), 0700u);
    ::chmod(path.c_str(), path == bundleFile ? 0644 : 0755);
  }
  // A missing bundle file, and a folder someone else loosened, are put right.
  ::chmod(privateFolder.c_str(), 0777);
  EXPECT_EQ(chooseListFile(root + "/none.txt", privateFolder, log), privateFolder + "/listPath.txt");
  EXPECT_EQ(modeOf(privateFolder), 0700u);
  // A link in the place of the private folder is not trusted.
  fs::remove_all(privateFolder);
  fs::create_directory_symlink(root, privateFolder);
  EXPECT_FALSE(chooseListFile("", privateFolder, log));
}

// The entries the preview's safety check kept stay out of the file.
TEST_F(ListFileTest, WritesOneLineFeedEndedLinePerEntryAndRefusesProtectedPaths) {
  std::string file = root + "/private.txt";
  const SafetyCheck check({root + "/home", root + "/home/.local/share/Trash"});
  auto kept = [&](const std::vector<std::string>& entries) {
    Product product;
    for (const std::string& entry : entries) product.addDir(entry);
    return previewRemoval(product, {}, check).kept;
  };
  std::vector<std::string> entries = {root + "/A", "/Library", root + "/B", "relative/path",
                                      root + "/home", root + "/C"};
  EXPECT_EQ(writeListFile(file, entries, kept(entries), log), 3);
  EXPECT_EQ(readFile(file), root + "/A\n" + root + "/B\n" + root + "/C\n");
  EXPECT_EQ(modeOf(file), 0600u);
  EXPECT_EQ(log.lines().size(), 3u);

  // Nothing left to remove: the file keeps what the last list wrote.
  EXPECT_EQ(writeListFile(file, {"/", "/Users"}, kept({"/", "/Users"}), log), 0);
  EXPECT_EQ(readFile(file), root + "/A\n" + root + "/B\n" + root + "/C\n");
}

TEST_F(ListFileTest, NeverWritesThroughALink) {
  std::string target = root + "/target", link = root + "/link";
  writeFile(target, "keep");
  fs::create_symlink(target, link);
  EXPECT_EQ(writeListFile(link, {root + "/A"}, {}, log), -1);
  EXPECT_EQ(readFile(target), "keep");
}

}  // namespace
}  // namespace tavo::testing
