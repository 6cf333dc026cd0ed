#include "privileged/list_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace tavo {
namespace {

namespace fs = std::filesystem;

struct Lines : SystemLog {
  std::vector<std::string> lines;
  void line(const std::string& text) override { lines.push_back(text); }
};

class ListFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "tavo-list-XXXXXX").string();
    root = ::mkdtemp(tmpl.data());
    fs::create_directories(root + "/Resources");
    std::ofstream(root + "/Resources/listPath.txt") << "";
    ::chmod((root + "/Resources").c_str(), 0755);
    ::chmod((root + "/Resources/listPath.txt").c_str(), 0644);
  }
  void TearDown() override { fs::remove_all(root); }
  static mode_t modeOf(const std::string& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st.st_mode & 07777;
  }
  static std::string bytes(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::string root;
  Lines log;
};

TEST_F(ListFileTest, TheBundleFileIsUsedOnlyWhenNobodyElseCanWriteIt) {
  std::string bundleFile = root + "/Resources/listPath.txt";
  std::string privateFolder = root + "/private/TAVO_Uninstaller";
  EXPECT_EQ(chooseListFile(bundleFile, privateFolder, log), bundleFile);

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

TEST_F(ListFileTest, WritesOneLineFeedEndedLinePerEntryAndRefusesProtectedPaths) {
  std::string file = root + "/private.txt";
  SafetyContext safety{root + "/home", root + "/home/.local/share/Trash"};
  std::vector<std::string> entries = {root + "/A", "/Library", root + "/B", "relative/path",
                                      root + "/home", root + "/C"};
  EXPECT_EQ(writeListFile(file, entries, safety, log), 3);
  EXPECT_EQ(bytes(file), root + "/A\n" + root + "/B\n" + root + "/C\n");
  EXPECT_EQ(modeOf(file), 0600u);
  EXPECT_EQ(log.lines.size(), 3u);

  // Nothing left to remove: the file keeps what the last list wrote.
  EXPECT_EQ(writeListFile(file, {"/", "/Users"}, safety, log), 0);
  EXPECT_EQ(bytes(file), root + "/A\n" + root + "/B\n" + root + "/C\n");
}

TEST_F(ListFileTest, NeverWritesThroughALink) {
  std::string target = root + "/target", link = root + "/link";
  std::ofstream(target) << "keep";
  fs::create_symlink(target, link);
  EXPECT_EQ(writeListFile(link, {root + "/A"}, SafetyContext{root + "/home", root + "/t"}, log), -1);
  EXPECT_EQ(bytes(target), "keep");
}

}  // namespace
}  // namespace tavo
