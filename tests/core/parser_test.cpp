#include "tests/core/core_fixture.h"

namespace tavo::testing {
namespace {

using Lines = std::vector<std::string>;

class ParserTest : public CoreFixture {
 protected:
  // A Banks dictionary whose first bank has these two paths.
  static PlistDict banks(const std::string& bankPath, const std::string& sampleDir) {
    PlistDict bank;
    bank.set("bank_path", bankPath);
    bank.set("sample_dir", sampleDir);
    PlistDict all;
    all.set("First", bank);
    PlistDict top;
    top.set("Banks", all);
    return top;
  }
};

TEST_F(ParserTest, TokenPrecedenceAndCommentsInTheFirstColumnOnly) {
  tree.write("D/f");
  std::string dir = at("D");
  std::string file = tree.write("file");
  PlistDict top;
  top.set("dir", dir);
  prefs("com.t", top);
  const ProductList& got = parseOne("P\nV\n-\n#" + file + "\n #" + file +
                                    "\ncom.t.plist$_path(dir)$ $_var(dir/x)$\n"
                                    "$_pkg(com.ok.a)$ $_plist(" + file + ")$\n-\n");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]->paths(), (Lines{dir + "/f", dir}));
  EXPECT_EQ(got[0]->recps(), (Lines{"com.ok.a"}));
  EXPECT_TRUE(got[0]->prefVars().empty());
  EXPECT_TRUE(got[0]->prefFiles().empty());
  EXPECT_EQ(log.count("Y Pref: com.t, Key: dir, Value: " + dir), 1u);
}

TEST_F(ParserTest, SeparatorsMustBeExactlyADash) {
  std::string file = tree.write("file");
  EXPECT_TRUE(parseOne("P\r\nV\r\n-\r\n" + file + "\r\n-\r\n").empty());
  EXPECT_EQ(log.count("manque la liste de trucs à effacer"), 1u);

  const ProductList& got = parseOne("P\nV\n-\n- \n -\n" + file + "\n-\n");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]->paths(), (Lines{file}));
  EXPECT_EQ(got[0]->dirs(), (Lines{file}));
}

TEST_F(ParserTest, KeepRuleAndSameNamesGiveTwoRecords) {
  PlistDict bank;
  bank.set("k", "v");
  PlistDict banksDict;
  banksDict.set("Harp", bank);
  PlistDict top;
  top.set("Banks", banksDict);
  prefs("com.t", top);
  const ProductList& got = parseOne(
      "Empty\nV\n-\n-\n"
      "Absent\nV\n-\n" + at("none") + "\n$_pkg(com.no.x)$\n-\n"
      "Var\nV\n-\ncom.t.plist$_var(Banks/Harp)$\n-\n"
      "Var\nV\n-\n$_plist(" + tree.mkdirs("prefdir") + ")$\n-\n");
  EXPECT_EQ(names(got), (Lines{"Var", "Var"}));
  EXPECT_TRUE(got[0]->paths().empty());
  EXPECT_EQ(got[0]->prefVars(), (Lines{"com.t::Banks/Harp"}));
  EXPECT_EQ(got[1]->prefFiles(), (Lines{at("prefdir")}));  // a folder counts
}

TEST_F(ParserTest, FilesInNameOrderAndABadEntryStopsOnlyItsFile) {
  std::string file = tree.write("file");
  std::string ok = "\n-\n" + file + "\n-\n";
  description("b.txt", "D\nV" + ok);
  description("a.txt", "A\nV" + ok + "B\nV\nnot a dash\n" + file + "\n-\nC\nV" + ok);
  description("c.txt", "E\nV\n-\ncaf\xc3\xa9\n" + file + "\n-\n");
  controller().parse();
  EXPECT_EQ(names(*controller().products()), (Lines{"A", "D"}));
  EXPECT_EQ(log.lines(), (Lines{"ConfigPath: " + bundle.resourcePath() + "/Products/a.txt",
                                "manque la liste de trucs à effacer",
                                "ConfigPath: " + bundle.resourcePath() + "/Products/b.txt",
                                "ConfigPath: " + bundle.resourcePath() + "/Products/c.txt"}));
}

TEST_F(ParserTest, EndOfFileClosesTheLastEntry) {
  std::string file = tree.write("file");
  const ProductList& got = parseOne("P\nV\n-\n" + file);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]->paths(), (Lines{file}));
  EXPECT_EQ(log.count("No closing \"-\" at the end of " + bundle.resourcePath() +
                      "/Products/a.txt"),
            1u);
}

TEST_F(ParserTest, MalformedDirectivesAreSkippedSilently) {
  std::string file = tree.write("file");
  PlistDict top;
  top.set("k", "v");
  prefs("com.t", top);
  const ProductList& got = parseOne("P\nV\n-\n$_var(Banks/B)$\ncom.t$_var(Banks/B)$\n"
                                    "com.t.plist$_path(k\n)$com.t.plist$_path(k)\n"
                                    "$_pkg(com.ok.x\n)$$_pkg(com.ok.y\n" + file + "\n-\n");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]->paths(), (Lines{file}));
  EXPECT_TRUE(got[0]->recps().empty());
  EXPECT_EQ(log.lines().size(), 1u);  // ConfigPath alone
}

TEST_F(ParserTest, PathFallsBackToTheFirstBank) {
  std::string base = at("Sounds/Harp One");
  tree.write("Sounds/Harp One/Library/Deep/x");
  tree.write("Sounds/Harp One/Samples/s");
  tree.write("Samples/Harp One/a");
  std::string line = "com.t.plist$_path(missing)$\n";

  prefs("com.t", banks(base + "/Library", at("Samples/Harp One")));
  const ProductList& first = parseOne("Harp One\nV\n-\n" + line + "-\n");
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0]->dirs(), (Lines{base, at("Samples/Harp One")}));
  EXPECT_EQ(log.count("base_dir from bank_path: " + base), 1u);
  EXPECT_EQ(log.count("Add sample_dir"), 1u);

  // Already among the paths: not expanded twice. Only inside one: expanded.
  log.clear();
  prefs("com.t", banks(base + "/Library", base + "/Samples"));
  EXPECT_EQ((parseOne("Harp One\nV\n-\n" + line + "-\n"))[0]->dirs(), (Lines{base}));
  EXPECT_EQ(log.count("sample_dir: " + base + "/Samples"), 1u);
  EXPECT_EQ(log.count("Add sample_dir"), 0u);
  prefs("com.t", banks(base + "/Library", base + "/Library/Deep"));
  EXPECT_EQ((parseOne("Harp One\nV\n-\n" + line + "-\n"))[0]->dirs(),
            (Lines{base, base + "/Library/Deep"}));

  // An empty name is never found in a bank path; the sample folder still is.
  log.clear();
  prefs("com.t", banks(base + "/Library", at("Samples/Harp One")));
  EXPECT_EQ((parseOne("\nV\n-\n" + line + "-\n"))[0]->dirs(), (Lines{at("Samples/Harp One")}));
  EXPECT_EQ(log.count("base_dir from bank_path: " + base), 0u);
}

TEST_F(ParserTest, PresetFolderUnderThePlayersBaseDir) {
  PlistDict player;
  player.set("base_dir", "~/Player");
  prefs("com.Korvelin.TAVO Player", player);
  std::string presets = home + "/Player/Presets/com.Stavek.Tavo/";
  tree.write("home/Player/Presets/com.Stavek.Tavo/Harp/p1");
  tree.write("home/Player/Presets/com.Stavek.Tavo/AFile");
  const ProductList& got = parseOne("P\nV\n-\n$_ens(Harp)$\n$_ens(AFile)$\n$_ens(None)$\n-\n");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]->paths(), (Lines{presets + "Harp/p1", presets + "Harp"}));
  EXPECT_EQ(got[0]->dirs(), (Lines{presets + "Harp"}));
}

TEST_F(ParserTest, UnreadableOrUndecodableFilesAddNothing) {
  tree.mkdirs("T.app/Contents/Resources/Products/folder.txt");
  description("pipe.txt", "");
  std::string file = tree.write("file");
  description("z.txt", "P\nV\n-\n" + file + "\n-\n");
  std::string pipe = bundle.resourcePath() + "/Products/pipe.txt";
  ::unlink(pipe.c_str());
  ::mkfifo(pipe.c_str(), 0644);  // never opened for writing: must not block
  controller().parse();
  EXPECT_EQ(names(*controller().products()), (Lines{"P"}));
}

}  // namespace
}  // namespace tavo::testing
