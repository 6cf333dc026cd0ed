// Feeds a fuzz target's seeds and its reproducers in tests/data through its own
// entry point, with the ordinary compiler: what the fuzzers found stays found.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

// Every regular file of the seed corpus, then of the reproducers, in name
// order within each folder.
std::vector<std::string> replayFiles() {
  std::vector<std::string> files;
  for (const char* dir : {TAVO_REPLAY_SEEDS, TAVO_REPLAY_FOUND}) {
    std::vector<std::string> here;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error))
      if (entry.is_regular_file()) here.push_back(entry.path().string());
    std::sort(here.begin(), here.end());
    files.insert(files.end(), here.begin(), here.end());
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
  const std::string bytes = tavo::testing::readFile(GetParam());
  // A broken oracle aborts with its reason on standard error.
  EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(Inputs, Replay, ::testing::ValuesIn(replayFiles()), testName);

}  // namespace
