#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "core/tavo_scan/scan_report.h"
#include "tests/core/core_fixture.h"

namespace tavo::testing {
namespace {

TEST(ScanReportTest, JsonStringsEscapeControlsAndStayValidUtf8) {
  EXPECT_EQ(jsonString("a\"b\\c/\n\r\t\b\f\x01\x1f\x7f"),
            "\"a\\\"b\\\\c/\\n\\r\\t\\b\\f\\u0001\\u001f\x7f\"");
  EXPECT_EQ(jsonString("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb9"),
            "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb9\"");
  EXPECT_EQ(jsonString("x\xff\xc3"), "\"x\xef\xbf\xbd\xef\xbf\xbd\"");
  std::string fffd = "\xef\xbf\xbd";  // overlong form, then a surrogate
  EXPECT_EQ(jsonString("\xc0\xaf\xed\xa0\x80"), "\"" + fffd + fffd + fffd + fffd + fffd + "\"");
}

TEST(ScanReportTest, UnsetNameAndVendorAreNull) {
  ProductList products;
  products.push_back(std::make_unique<Product>());
  products.back()->addRecp("r");
  EXPECT_EQ(productsJson(products),
            "{\"products\": [{\"name\": null, \"vendor\": null, \"paths\": [], \"dirs\": [], "
            "\"prefVars\": [], \"prefFiles\": [], \"recps\": [\"r\"]}]}\n");
}

class TavoScanTest : public CoreFixture {
 protected:
  struct Run {
    int status = -1;
    std::string out;
    std::string err;
  };

  static std::string slurp(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
  }

  // Runs the built program with HOME at the temporary home.
  Run run(std::vector<std::string> args) {
    args.insert(args.begin(), TAVO_SCAN_EXE);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string homeVar = "HOME=" + home;
    std::string pathVar = "PATH=/usr/bin:/bin";
    char* envp[] = {homeVar.data(), pathVar.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, at("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, at("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Run result;
    pid_t pid;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp) == 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = slurp(at("out"));
    result.err = slurp(at("err"));
    return result;
  }
};

// The worked example of the description format, its absolute paths moved
// under the temporary root and its preferences and presets into the home.
TEST_F(TavoScanTest, JsonOverTheWorkedExample) {
  std::string support = at("Library/Application Support/Example Audio");
  std::string strings = support + "/Example Strings";
  std::string readme = support + "/Example Strings Readme.rtf";
  std::string sounds = at("Volumes/Sounds/Example Strings");
  std::string samples = at("Volumes/Samples/Example Strings");
  std::string presets = home + "/Documents/Example Player/Presets/com.Stavek.Tavo/Example Strings";
  std::string brass = at("Applications/Example Brass.app");
  std::string prefFile = home + "/Library/Preferences/com.example.sampler.plist";
  for (const std::string& f : {strings + "/Samples/s1.wav", strings + "/Info.txt", readme,
                               sounds + "/Library/Patch.nki", samples + "/a.ncw",
                               presets + "/p1.nksn", brass + "/Contents/Info.plist"})
    tree.write(f.substr(root.size() + 1));
  PlistDict bank;
  bank.set("bank_path", sounds + "/Library");
  bank.set("sample_dir", samples);
  PlistDict banks;
  banks.set("Example Strings", bank);
  PlistDict sampler;
  sampler.set("Banks", banks);
  prefs("com.example.sampler", sampler);
  PlistDict player;
  player.set("base_dir", "~/Documents/Example Player");
  prefs("com.Korvelin.TAVO Player", player);
  tree.write("T.app/Contents/MacOS/pkgutil",
             "#!/bin/sh\necho noise\n[ \"$2\" = com.example.pkg.ExampleStrings ]\n");
  ::chmod(at("T.app/Contents/MacOS/pkgutil").c_str(), 0755);
  description("example.txt",
              "Example Strings\nExample Audio\n-\n# installed folders\n" + strings + "\n" +
                  readme + "\n~/Library/Preferences/com.example.sampler.plist$_path(LibraryFolder)$\n"
                  "~/Library/Preferences/com.example.sampler.plist$_var(Banks/Example Strings)$\n"
                  "$_plist(~/Library/Preferences/com.example.sampler.plist)$\n"
                  "$_pkg(com.example.pkg.ExampleStrings)$\n$_ens(Example Strings)$\n-\n"
                  "Example Brass\nExample Audio\n-\n" + brass + "\n-\n");

  Run r = run({"--json", bundle.bundlePath()});
  ASSERT_EQ(r.status, 0) << r.err;
  auto q = [](const std::string& s) { return "\"" + s + "\""; };
  std::string expected =
      "{\"products\": [{\"name\": \"Example Strings\", \"vendor\": \"Example Audio\", \"paths\": [" +
      q(strings + "/Info.txt") + ", " + q(strings + "/Samples") + ", " +
      q(strings + "/Samples/s1.wav") + ", " + q(strings) + ", " + q(readme) + ", " +
      q(sounds + "/Library") + ", " + q(sounds + "/Library/Patch.nki") + ", " + q(sounds) + ", " +
      q(samples + "/a.ncw") + ", " + q(samples) + ", " + q(presets + "/p1.nksn") + ", " +
      q(presets) + "], \"dirs\": [" + q(strings) + ", " + q(readme) + ", " + q(sounds) + ", " +
      q(samples) + ", " + q(presets) +
      "], \"prefVars\": [\"com.example.sampler::Banks/Example Strings\"], \"prefFiles\": [" +
      q(prefFile) + "], \"recps\": [\"com.example.pkg.ExampleStrings\"]}, "
      "{\"name\": \"Example Brass\", \"vendor\": \"Example Audio\", \"paths\": [" +
      q(brass + "/Contents") + ", " + q(brass + "/Contents/Info.plist") + ", " + q(brass) +
      "], \"dirs\": [" + q(brass) + "], \"prefVars\": [], \"prefFiles\": [], \"recps\": []}]}\n";
  EXPECT_EQ(r.out, expected);
  EXPECT_NE(r.err.find("base_dir from bank_path: " + sounds), std::string::npos);
  EXPECT_NE(r.err.find("Add sample_dir"), std::string::npos);
}

TEST_F(TavoScanTest, OwnBundleAndBadArguments) {
  Run own = run({"--json"});
  EXPECT_EQ(own.status, 0) << own.err;
  EXPECT_EQ(own.out.rfind("{\"products\": [", 0), 0u) << own.out;
  EXPECT_NE(own.err.find("/Contents/Resources/Products/"), std::string::npos);

  EXPECT_EQ(run({"--json", "--frobnicate"}).status, 2);
  EXPECT_EQ(run({"a", "b"}).status, 2);
  EXPECT_EQ(run({at("no-bundle")}).status, 1);
}

}  // namespace
}  // namespace tavo::testing
