#include <fcntl.h>
#include <sys/mman.h>

#include <algorithm>
#include <filesystem>

#include "cli/scan_report.h"
#include "tests/core/core_fixture.h"
#include "tests/support/tool_run.h"

namespace tavo::testing {
namespace {

// JSON escapes and UTF-8 repairs, each at every place in a long run, which is
// tested eight bytes at a time.
TEST(ScanReportTest, JsonStringsEscapeControlsAndStayValidUtf8) {
  const std::string fffd = "\xef\xbf\xbd";  // a stray byte, an overlong form, a surrogate
  const std::pair<std::string, std::string> cases[] = {
      {"\"", "\\\""}, {"\\", "\\\\"}, {"/", "/"}, {"\n", "\\n"}, {"\r", "\\r"}, {"\t", "\\t"},
      {"\b", "\\b"}, {"\f", "\\f"}, {"\x01", "\\u0001"}, {"\x1f", "\\u001f"}, {"\x7f", "\x7f"},
      {"\xc3\xa9", "\xc3\xa9"}, {"\xe2\x82\xac", "\xe2\x82\xac"}, {"\xf0\x9f\x8e\xb9", "\xf0\x9f\x8e\xb9"},
      {"\xff", fffd}, {"\xc0\xaf", fffd + fffd}, {"\xed\xa0\x80", fffd + fffd + fffd}, {"~", "~"},
  };
  for (const auto& [in, out] : cases) {
    for (std::size_t before = 0; before < 17; ++before) {
      std::string a(before, 'a'), b(9, 'b');
      EXPECT_EQ(jsonString(a + in + b), "\"" + a + out + b + "\"") << before << " " << out;
    }
  }
  EXPECT_EQ(jsonString("x\xc3"), "\"x" + fffd + "\"");  // a sequence cut by the end
}

TEST(ScanReportTest, WrittenInPiecesAsTheWholeDocument) {
  ProductList products;
  for (const std::optional<std::string>& name : {std::optional<std::string>(), {"B"}}) {
    auto product = std::make_unique<Product>();
    product->setName(name);
    for (int i = 0; i < 5000; ++i)
      product->addPath("/Volumes/Samples/Harp/Folder " + std::to_string(i) + "/\"x\"\t.ncw");
    product->addDir("/Volumes/Samples/Harp");
    products.push_back(std::move(product));
  }
  for (bool json : {true, false}) {
    UniqueFd out(::memfd_create("out", MFD_CLOEXEC));
    ASSERT_TRUE(json ? writeProductsJson(out.get(), products)
                     : writeProductsText(out.get(), products));
    std::string whole = json ? productsJson(products) : productsText(products);
    EXPECT_GT(whole.size(), 200000u);
    EXPECT_EQ(readFile("/proc/self/fd/" + std::to_string(out.get())), whole);
  }
  UniqueFd readOnly(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  EXPECT_FALSE(writeProductsJson(readOnly.get(), products));
}

class TavoScanTest : public CoreFixture {
 protected:
  // Runs the built program with HOME at the temporary home.
  ToolRun run(const Lines& args) {
    return runTool(TAVO_SCAN_EXE, args, {"HOME=" + home, "PATH=/usr/bin:/bin"});
  }
};

// The worked example of the description format, its absolute paths moved
// under the temporary root and its preferences and presets into the home.
TEST_F(TavoScanTest, JsonOverTheWorkedExampleAndArguments) {
  std::string strings = tree / "Library/Application Support/Example Audio/Example Strings";
  std::string readme = strings + " Readme.rtf";
  std::string sounds = tree / "Volumes/Sounds/Example Strings";
  std::string samples = tree / "Volumes/Samples/Example Strings";
  std::string presets = home + "/Documents/Example Player/Presets/com.Stavek.Tavo/Example Strings";
  std::string brass = tree / "Applications/Example Brass.app";
  std::string prefFile = home + "/Library/Preferences/com.example.sampler.plist";
  for (const std::string& f : {strings + "/Samples/s1.wav", strings + "/Info.txt", readme,
                               sounds + "/Library/Patch.nki", samples + "/a.ncw",
                               presets + "/p1.nksn", brass + "/Contents/Info.plist"})
    tree.write(f.substr(root.size() + 1));
  prefs("com.example.sampler",
        dict({{"Banks", dict({{"Example Strings", dict({{"bank_path", sounds + "/Library"},
                                                        {"sample_dir", samples}})}})}}));
  prefs("com.Korvelin.TAVO Player", dict({{"base_dir", "~/Documents/Example Player"}}));
  tree.write("T.app/Contents/MacOS/pkgutil",
             "#!/bin/sh\necho noise\n[ \"$2\" = com.example.pkg.ExampleStrings ]\n", 0755);
  description("example.txt",
              "Example Strings\nExample Audio\n-\n# installed folders\n" + strings + "\n" + readme +
                  "\n~/Library/Preferences/com.example.sampler.plist$_path(LibraryFolder)$\n"
                  "~/Library/Preferences/com.example.sampler.plist$_var(Banks/Example Strings)$\n"
                  "$_plist(~/Library/Preferences/com.example.sampler.plist)$\n"
                  "$_pkg(com.example.pkg.ExampleStrings)$\n$_ens(Example Strings)$\n-\n"
                  "Example Brass\nExample Audio\n-\n" + brass + "\n-\n");

  ToolRun r = run({"--json", bundle.bundlePath()});
  ASSERT_EQ(r.status, 0) << r.err;
  auto list = [](const Lines& items) {
    std::string text;
    for (const auto& i : items) text += (text.empty() ? "\"" : ", \"") + i + "\"";
    return "[" + text + "]";
  };
  std::string expected =
      "{\"products\": [{\"name\": \"Example Strings\", \"vendor\": \"Example Audio\", "
      "\"paths\": " +
      list({strings + "/Info.txt", strings + "/Samples", strings + "/Samples/s1.wav", strings,
            readme, sounds + "/Library", sounds + "/Library/Patch.nki", sounds, samples + "/a.ncw",
            samples, presets + "/p1.nksn", presets}) +
      ", \"dirs\": " + list({strings, readme, sounds, samples, presets}) +
      ", \"prefVars\": [\"com.example.sampler::Banks/Example Strings\"], \"prefFiles\": " +
      list({prefFile}) + ", \"recps\": [\"com.example.pkg.ExampleStrings\"]}, {\"name\": "
      "\"Example Brass\", \"vendor\": \"Example Audio\", \"paths\": " +
      list({brass + "/Contents", brass + "/Contents/Info.plist", brass}) + ", \"dirs\": " +
      list({brass}) + ", \"prefVars\": [], \"prefFiles\": [], \"recps\": []}]}\n";
  EXPECT_EQ(r.out, expected);
  EXPECT_NE(r.err.find("Add sample_dir"), std::string::npos);
  // The start-up lines come first, as the window's controller writes them.
  const std::size_t startup = r.err.find("] ConfigPath: (null)\n");
  EXPECT_LT(startup, r.err.find("] OS X : 100\n"));
  EXPECT_LT(r.err.find("] OS X : 100\n"), r.err.find("] ConfigPath: " + bundle.resourcePath()));

  ToolRun own = run({"--json"});  // the bundle the program lies in
  EXPECT_EQ(own.status, 0) << own.err;
  EXPECT_EQ(own.out.rfind("{\"products\": [", 0), 0u) << own.out;
  EXPECT_NE(own.err.find("/Contents/Resources/Products/"), std::string::npos);
  EXPECT_EQ(run({"--json", "--frobnicate"}).status, 2);
  EXPECT_EQ(run({"a", "b"}).status, 2);
  EXPECT_EQ(run({tree / "no-bundle"}).status, 1);
}

// The files of tests/data/`folder`, the inputs that fuzzers and reports
// found troublesome, in name order.
Lines reproducers(const std::string& folder) {
  Lines files;
  std::error_code none;
  for (const auto& entry : std::filesystem::directory_iterator(TAVO_TEST_DATA_DIR "/" + folder, none))
    files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// Each bad preference file as the player's preferences, in a home that a
// description file asks about them in every way: the scan ends normally, and
// a file it cannot read is named once in the log with the reason.
TEST_F(TavoScanTest, EveryReproducerAsPreferencesEndsTheScanWithALogLine) {
  const std::string playerFile = home + "/Library/Preferences/com.Korvelin.TAVO Player.plist";
  const std::string globalFile = home + "/Library/Preferences/.GlobalPreferences.plist";
  description("player.txt",
              "Player\nVendor\n-\n"
              "~/Library/Preferences/com.Korvelin.TAVO Player.plist$_path(base_dir)$\n"
              "~/Library/Preferences/com.Korvelin.TAVO Player.plist$_var(Banks/B)$\n"
              "~/Library/Preferences/com.example.sampler.plist$_path(LibraryFolder)$\n"
              "$_ens(Example)$\n$_plist(~/Library/Preferences/com.Korvelin.TAVO Player.plist)$\n-\n");
  std::vector<std::pair<std::string, std::string>> cases;  // what, bytes
  for (const std::string& file : reproducers("plist")) cases.emplace_back(file, readFile(file));
  // Made here rather than kept: a nesting that once overflowed the stack, and
  // a dictionary that once took seconds to load.
  std::string deep, keys;
  for (int i = 0; i < 100000; ++i) deep += "<array>";
  for (int i = 0; i < 100000; ++i) deep += "</array>";
  cases.emplace_back("100,000 nested arrays", "<plist><dict><key>base_dir</key>" + deep + "</dict></plist>");
  for (int i = 0; i < 40000; ++i) keys += "<key>k" + std::to_string(i) + "</key><integer>1</integer>";
  cases.emplace_back("40,000 keys", "<plist><dict>" + keys + "</dict></plist>");

  for (const auto& [what, bytes] : cases) {
    for (const std::string& path : {playerFile, globalFile}) {
      writeFile(path, bytes);
      ToolRun r = run({"--json", bundle.bundlePath()});
      EXPECT_EQ(r.status, 0) << what << " as " << path << "\n" << r.err;
      const bool unreadable = parsePlist(bytes).state == PlistFile::State::Unreadable;
      const std::string line = "Preferences: skipping " + path + ": ";
      std::size_t first = r.err.find(line);
      EXPECT_EQ(first != std::string::npos, unreadable) << what << " as " << path << "\n" << r.err;
      if (unreadable) {
        EXPECT_EQ(r.err.find(line, first + 1), std::string::npos) << what << ": logged twice";
      }
      std::filesystem::remove(path);
    }
  }
}

}  // namespace
}  // namespace tavo::testing
