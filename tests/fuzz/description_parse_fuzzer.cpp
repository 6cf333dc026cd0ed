// One description file parsed through the removal session, over a small machine
// made once per process: a home (HOME) with the player's and a sampler's
// preferences, library, sample and preset folders, and a bundle holding the
// file. No package tool. Whatever the file holds, the parse ends, keeping only
// records of entries that found a trace, named by lines of the file, with
// entries "DOMAIN::KEY/PATH", folders among the paths, and files that exist.

#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "safety/description_file.h"
#include "core/removal_session.h"
#include "prefs/file_prefs_store.h"
#include "platform/file_system.h"
#include "plist/plist_file.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/prefs_fixture.h"

namespace {

using tavo::PlistDict;
using tavo::PlistValue;
using tavo::testing::writeFile;
using tavo::testing::dict;

// Lets this process list only folders beneath `allowed` (Landlock): a file may
// name "/" or "~root", whose expansion would walk the whole machine on every
// input. Reading files and testing existence stay free. False when the kernel
// cannot fence it.
bool fenceFolderListing([[maybe_unused]] const std::vector<std::string>& allowed) {
#ifdef LANDLOCK_ACCESS_FS_READ_DIR
  landlock_ruleset_attr ruleset{};
  ruleset.handled_access_fs = LANDLOCK_ACCESS_FS_READ_DIR;
  int fd = static_cast<int>(::syscall(SYS_landlock_create_ruleset, &ruleset, sizeof ruleset, 0));
  if (fd < 0) return false;
  for (const std::string& folder : allowed) {
    landlock_path_beneath_attr rule{};
    rule.allowed_access = LANDLOCK_ACCESS_FS_READ_DIR;
    rule.parent_fd = ::open(folder.c_str(), O_PATH | O_CLOEXEC);
    if (rule.parent_fd < 0) continue;
    ::syscall(SYS_landlock_add_rule, fd, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
    ::close(rule.parent_fd);
  }
  bool fenced = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
                ::syscall(SYS_landlock_restrict_self, fd, 0) == 0;
  ::close(fd);
  return fenced;
#endif
  return false;
}

class Machine {
 public:
  Machine() : root_(scratch_.path()), home_(root_ + "/home") {
    ::setenv("HOME", home_.c_str(), 1);
    const std::string sounds = root_ + "/Volumes/Sounds/Example Strings";
    const std::string samples = root_ + "/Volumes/Samples/Example Strings";
    const std::string library = root_ + "/Library/Application Support/Example Audio/Example Strings";
    for (const std::string& file :
         {sounds + "/Library/Patch.nki", samples + "/a.ncw", library + "/Info.txt", library + "/Samples/s1.wav",
          library + " Readme.rtf", home_ + "/Documents/Player/Presets/com.Stavek.Tavo/Example Strings/p1.nksn",
          home_ + "/Applications/Example Brass.app/Contents/Info.plist"})
      writeFile(file, "x");
    PlistDict banks = dict({{"Example Strings", dict({{"bank_path", sounds + "/Library"},
                                                         {"sample_dir", samples}})},
                              {"Other", dict({{"bank_path", "/nowhere"}})}});
    writePrefs("com.Korvelin.TAVO Player",
               dict({{"base_dir", "~/Documents/Player"}, {"Banks", banks}}));
    writePrefs("com.example.sampler", dict({{"LibraryFolder", library}, {"Banks", banks},
                                              {"Volume", PlistValue(3)}}));
    writeFile(description_, "");
    std::filesystem::create_directories(root_ + "/T.app/Contents/MacOS");
    session_ = tavo::openRemovalSession(
        {.store = store_, .authorization = authorization_, .tools = {}, .log = log_,
         .bundle = bundle_, .home = home_});
  }

  const std::string& root() const { return root_; }

  const tavo::ProductList& parse(const std::string& text) {
    writeFile(description_, text);
    return session_->scan();
  }

 private:
  void writePrefs(const std::string& domain, const PlistDict& dict) {
    std::filesystem::create_directories(home_ + "/Library/Preferences");
    tavo::writePlistFile(home_ + "/Library/Preferences/" + domain + ".plist", dict,
                         tavo::PlistFormat::Binary);
  }

  tavo::testing::TempDir scratch_;
  std::string root_, home_;
  std::string description_ = root_ + "/T.app/Contents/Resources/Products/a.txt";
  tavo::NullLog log_;
  tavo::FilePrefsStore store_{{home_ + "/Library/Preferences", root_ + "/Library/Preferences", "host"}, log_};
  tavo::Bundle bundle_{root_ + "/T.app"};
  tavo::NoAuthorization authorization_;
  std::unique_ptr<tavo::RemovalSession> session_;
};


Machine& machine() {
  static Machine made;  // its scratch folder goes at exit
  return made;
}

void checkProduct(const tavo::Product& product, const std::set<std::string>& lines) {
  TAVO_FUZZ_CHECK(!product.paths().empty() || !product.prefFiles().empty() ||
                      !product.prefVars().empty() || !product.recps().empty(),
                  "a record without a trace was kept");
  TAVO_FUZZ_CHECK(product.name() && lines.count(*product.name()) &&
                      product.vendor() && lines.count(*product.vendor()),
                  "a name or vendor that is no line of the file");
  TAVO_FUZZ_CHECK(product.recps().empty(), "a receipt found without a package tool");
  for (const std::string& prefVar : product.prefVars()) {
    std::size_t colons = prefVar.find("::");
    TAVO_FUZZ_CHECK(prefVar.rfind("com.", 0) == 0 && colons != std::string::npos &&
                        prefVar.find('/', colons) != std::string::npos,
                    "a preference entry not of the form DOMAIN::KEY/PATH");
  }
  const std::set<std::string> paths(product.paths().begin(), product.paths().end());
  for (const std::string& dir : product.dirs())
    TAVO_FUZZ_CHECK(paths.count(dir), "a folder to remove that is not among the paths");
  for (const std::string& file : product.prefFiles())
    TAVO_FUZZ_CHECK(tavo::fileExistsAtPath(file), "a preference file that does not exist");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // The corpus folders libFuzzer reads are named on its command line.
  std::vector<std::string> listable{machine().root(), "/proc/self/task"};
  for (int i = 1; i < *argc; ++i)
    if ((*argv)[i][0] != '-') listable.emplace_back((*argv)[i]);
  if (!fenceFolderListing(listable))
    std::fputs("description_parse_fuzzer: no Landlock here: a folder the input names outside "
               "the scratch machine is walked for real\n",
               stderr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const tavo::ProductList& products = machine().parse(text);
  std::vector<std::string> split;
  std::string why;
  if (!tavo::decodeDescriptionText(text, split, why)) {
    TAVO_FUZZ_CHECK(products.empty(), "an undecodable file gave products");
    return 0;
  }
  TAVO_FUZZ_CHECK(products.size() * 4 <= split.size(), "more records than entries the file can hold");
  const std::set<std::string> lines(split.begin(), split.end());
  for (const auto& product : products) checkProduct(*product, lines);
  return 0;
}
