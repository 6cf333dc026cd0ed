// Feeds every input of a fuzz target's seed corpus and of its reproducers in
// tests/data through the target's own entry point, with the ordinary
// compiler: the faults the fuzzers found stay found without clang.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

// Every regular file of the folders in TAVO_REPLAY_DIRS (":"-separated), in
// name order within each folder.
std::vector<std::string> replayFiles() {
  std::vector<std::string> files;
  std::string dirs = TAVO_REPLAY_DIRS;
  for (std::size_t start = 0; start <= dirs.size();) {
    std::size_t end = std::min(dirs.find(':', start), dirs.size());
    std::vector<std::string> here;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dirs.substr(start, end - start), error))
      if (entry.is_regular_file()) here.push_back(entry.path().string());
    std::sort(here.begin(), here.end());
    files.insert(files.end(), here.begin(), here.end());
    start = end + 1;
  }
  return files;
}

// "corpus/x.plist" -> "corpus_x_plist": the folder tells a seed from a reproducer.
std::string testName(const ::testing::TestParamInfo<std::string>& info) {
  std::filesystem::path path(info.param);
  std::string name = path.parent_path().parent_path().filename().string() + "_" +
                     path.filename().string();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

class Replay : public ::testing::TestWithParam<std::string> {
 protected:
  static void SetUpTestSuite() {
    if (!LLVMFuzzerInitialize) return;
    static char program[] = "replay";
    char* args[] = {program, nullptr};
    int argc = 1;
    char** argv = args;
    LLVMFuzzerInitialize(&argc, &argv);
  }
};

TEST_P(Replay, TheTargetsOracleHolds) {
  std::ifstream in(GetParam(), std::ios::binary);
  ASSERT_TRUE(in) << GetParam();
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A broken oracle aborts with its reason on standard error.
  EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(Inputs, Replay, ::testing::ValuesIn(replayFiles()), testName);

}  // namespace
