#include "tests/core/core_fixture.h"

namespace tavo::testing {
namespace {

class ParserTest : public CoreFixture {
 protected:
  static Lines names(const ProductList& products) {
    Lines out;
    for (const auto& p : products) out.push_back(*p->name());
    return out;
  }
  std::string file = tree.write("file");
};

TEST_F(ParserTest, TokenPrecedenceAndCommentsInTheFirstColumnOnly) {
  std::string dir = tree.mkdirs("D");
  tree.write("D/f");
  prefs("com.t", dict({{"dir", dir}}));
  const ProductList& got = parseOne("P\nV\n-\n#$_pkg(com.ok.a)$\n #$_pkg(com.ok.b)$\n"
                                    "com.t.plist$_path(dir)$ $_var(dir/x)$\n"
                                    "$_pkg(com.ok.c)$ $_plist(" + file + ")$\n-\n");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]->paths(), (Lines{dir + "/f", dir}));
  EXPECT_EQ(got[0]->recps(), (Lines{"com.ok.b", "com.ok.c"}));
  EXPECT_TRUE(got[0]->prefFiles().empty());
}

TEST_F(ParserTest, KeepRuleAndSameNamesGiveTwoRecords) {
  firstBank("Harp", dict({{"k", "v"}}));
  const ProductList& got = parseOne(
      "Empty\nV\n-\n-\nAbsent\nV\n-\n" + tree / "none" + "\n$_pkg(com.no.x)$\n-\n"
      "Var\nV\n-\ncom.t.plist$_var(Banks/Harp)$\n-\n"
      "Var\nV\n-\n$_plist(" + tree.mkdirs("prefdir") + ")$\n-\nPkg\nV\n-\n$_pkg(com.ok.p)$\n-\n");
  EXPECT_EQ(names(got), (Lines{"Var", "Var", "Pkg"}));
  EXPECT_EQ(got[0]->prefVars(), (Lines{"com.t::Banks/Harp"}));
  EXPECT_EQ(got[1]->prefFiles(), (Lines{tree / "prefdir"}));  // a folder counts
  EXPECT_EQ(readFile(tree / "pkgutil.runs"), "--pkgs\n");  // once for every receipt line
}

TEST_F(ParserTest, FilesInNameOrderOnlyADashSeparatesAndABadEntryStopsItsFile) {
  std::string ok = "\n-\n" + file + "\n-\n";
  description("b.txt", "D\nV" + ok);
  description("a.txt", "A\nV\n-\n- \n -\n" + file + "\n-\nB\nV\nnot a dash\n" + file +
                           "\n-\nC\nV" + ok);
  description("c.txt", "E\nV\n-\ncaf\xc3\xa9\n" + file + "\n-\n");  // not ASCII: no lines
  description("d.txt", "F\r\nV\r\n-\r\n" + file + "\r\n-\r\n");   // "-\r" is no dash
  description("e.txt", "G\nV");                                      // fewer than three lines
  description("f.txt", "H\nV" + ok + "\n\n");                          // line breaks after the end
  description("pipe.txt", "");
  controller();  // found while still a file, then a pipe never opened for writing: no blocking
  std::string products = bundle.resourcePath() + "/Products/";
  ::unlink((products + "pipe.txt").c_str());
  ::mkfifo((products + "pipe.txt").c_str(), 0644);
  controller().parse();
  EXPECT_EQ(names(*controller().products()), (Lines{"A", "D", "H"}));
  std::string stop = "manque la liste de trucs à effacer";
  const std::string cannot = "Cannot read the description file " + products;
  EXPECT_EQ(log.lines(), (Lines{"ConfigPath: " + products + "a.txt", stop,
                                "ConfigPath: " + products + "b.txt",
                                "ConfigPath: " + products + "c.txt",
                                cannot + "c.txt: it is not 7-bit ASCII (a byte above 0x7F at "
                                         "offset 9)",
                                "ConfigPath: " + products + "d.txt", stop,
                                "ConfigPath: " + products + "e.txt",
                                "ConfigPath: " + products + "f.txt", stop,
                                "ConfigPath: " + products + "pipe.txt",
                                cannot + "pipe.txt: it is not a regular file"}));
}

TEST_F(ParserTest, MalformedDirectivesAreSkippedAndTheEndOfFileClosesTheEntry) {
  prefs("com.t", dict({{"k", tree.mkdirs("K")}}));
  const ProductList& got = parseOne("P\nV\n-\n$_var(k)$\ncom.t$_var(k)$\ncom.t.plist$_path(k\n"
                                    "com.t.plist$_path(k)\n)$com.t.plist$_path(k)$\n"
                                    "$_pkg(com.ok.x\n)$$_pkg(com.ok.y)$\n" + file);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]->paths(), (Lines{file}));
  EXPECT_TRUE(got[0]->recps().empty() && got[0]->prefVars().empty());
  EXPECT_EQ(log.lines(), (Lines{"ConfigPath: " + bundle.resourcePath() + "/Products/a.txt",
                                "No closing \"-\" at the end of " + bundle.resourcePath() +
                                    "/Products/a.txt"}));
}

TEST_F(ParserTest, PathFallsBackToTheFirstBank) {
  std::string base = tree / "Sounds/Harp One", samples = tree / "Samples/Harp One";
  for (const char* f : {"Sounds/Harp One/Library/Deep/x", "Sounds/Harp One/Samples/s",
                        "Samples/Harp One/a"})
    tree.write(f);
  // Name, sample folder, dirs. A sample folder already among the paths is not added
  // twice; one inside a listed folder is. An empty name is never found in a bank path.
  using Case = std::tuple<std::string, std::string, Lines>;
  for (const auto& [name, sampleDir, dirs] : std::vector<Case>{
           {"Harp One", samples, {base, samples}},
           {"Harp One", base + "/Samples", {base}},
           {"Harp One", base + "/Library/Deep", {base, base + "/Library/Deep"}},
           {"", samples, {samples}}}) {
    log.clear();
    firstBank("First", dict({{"bank_path", base + "/Library"}, {"sample_dir", sampleDir}}));
    const ProductList& got = parseOne(name + "\nV\n-\ncom.t.plist$_path(missing)$\n-\n");
    ASSERT_EQ(got.size(), 1u) << sampleDir;
    EXPECT_EQ(got[0]->dirs(), dirs) << sampleDir;
  }
  EXPECT_EQ(log.count("base_dir from bank_path: "), 0u);  // the empty name, last
}

TEST_F(ParserTest, PresetFolderUnderThePlayersBaseDir) {
  prefs("com.Korvelin.TAVO Player", dict({{"base_dir", "~/Player"}}));
  std::string presets = home + "/Player/Presets/com.Stavek.Tavo/";
  tree.write("home/Player/Presets/com.Stavek.Tavo/Harp/p1");
  tree.write("home/Player/Presets/com.Stavek.Tavo/AFile");
  const ProductList& got = parseOne("P\nV\n-\n$_ens(Harp)$\n$_ens(AFile)$\n$_ens(None)$\n-\n");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]->paths(), (Lines{presets + "Harp/p1", presets + "Harp"}));
}

}  // namespace
}  // namespace tavo::testing
