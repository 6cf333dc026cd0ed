// The low-level helpers every program links.

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/sysmacros.h>

#include <thread>

#include "base/child.h"
#include "base/home.h"
#include "base/io.h"
#include "base/mounts.h"
#include "base/path.h"
#include "base/path_walk.h"
#include "base/unique_fd.h"
#include "base/utf8.h"
#include "tests/support/temp_dir.h"

namespace tavo::testing {
namespace {

using Parts = std::vector<std::string>;

TEST(PathTest, SplitJoinParentAndBaseName) {
  EXPECT_EQ(splitPath("/a//b/"), (Parts{"a", "b"}));
  EXPECT_EQ(splitPath("/"), Parts{});
  EXPECT_EQ(splitPath("rel/x"), (Parts{"rel", "x"}));
  EXPECT_EQ(joinParts({}), "/");
  EXPECT_EQ(joinParts({"a", "b c"}), "/a/b c");
  // The path, its parent folder and its last component.
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"/a/b", "/a", "b"}, {"/a/b/", "/a", "b"}, {"/a", "/", "a"},  {"/", "/", "/"},
      {"a", ".", "a"},     {"", ".", ""},        {"a/b", "a", "b"}, {"//a//b", "//a", "b"},
  };
  for (const auto& [path, parent, base] : cases) {
    EXPECT_EQ(parentPath(path), parent) << path;
    EXPECT_EQ(baseName(path), base) << path;
  }
  EXPECT_EQ(joinPath("/", "x"), "/x");
  EXPECT_EQ(joinPath("/a/", "x"), "/a/x");
  EXPECT_EQ(joinPath("", "x"), "x");
}

// Links relative, absolute, through "..", dangling and looping, a file where a
// folder is needed, and the missing rest: resolved as realpath would, with the
// descriptor of what was found.
TEST(PathWalkTest, ResolvesLinksItselfAndKeepsTheMissingRestAsWritten) {
  TempDir dir;
  dir.mkdirs("a/b");
  dir.write("file");
  for (auto [link, target] : {std::pair<std::string, std::string>{"rel", "a"}, {"abs", dir / "a"}, {"up", "a/../a/b"},
                              {"dangling", "nowhere/x"}, {"loop", "loop"}, {"tofile", "file"}}) {
    std::filesystem::create_symlink(target, dir / link);
  }
  const std::size_t base = splitPath(dir.path()).size();
  // The path, what it resolves to, and how many of those parts exist.
  const std::tuple<std::string, std::string, std::size_t> cases[] = {
      {dir / "rel/b", dir / "a/b", base + 2},
      {dir / "abs/b/missing/deeper", dir / "a/b/missing/deeper", base + 2},
      {dir / "up", dir / "a/b", base + 2},
      {dir / "dangling/y", dir / "dangling/y", base},
      {dir / "file/x", dir / "file/x", base + 1},
      {dir / "tofile", dir / "file", base + 1},
      {"/", "/", 0},
  };
  for (const auto& [path, resolved, existing] : cases) {
    ResolvedPath out;
    std::string error;
    ASSERT_TRUE(resolvePath(splitPath(path), out, error)) << path << ": " << error;
    EXPECT_EQ(joinParts(out.parts), resolved) << path;
    EXPECT_EQ(out.existing, existing) << path;
    struct stat held {}, named {};
    EXPECT_EQ(out.fd.valid(), existing == out.parts.size()) << path;
    if (out.fd.valid() && fstat(out.fd.get(), &held) == 0 && lstat(resolved.c_str(), &named) == 0) {
      EXPECT_EQ(held.st_ino, named.st_ino) << path;
    }
  }
  ResolvedPath out;
  std::string error;
  EXPECT_FALSE(resolvePath(splitPath(dir / "loop/x"), out, error));
  EXPECT_NE(error.find("symbolic links"), std::string::npos) << error;
}

TEST(MountsTest, ParsesMountInfoWithEscapedPointsAndSkipsBadLines) {
  const std::string text =
      "22 1 0:21 / / rw,relatime - overlay overlay rw\n"
      "23 22 8:1 / /media/u/Sample\\040Drive rw - ext4 /dev/sda1 rw\n"
      "broken line\n"
      "24 22 x:1 / /bad rw - tmpfs tmpfs rw\n"
      "25 22 0:5 / relative rw - tmpfs tmpfs rw\n";
  const std::vector<Mount> mounts = parseMountInfo(text);
  ASSERT_EQ(mounts.size(), 2u);
  EXPECT_EQ(mounts[0].path, "/");
  EXPECT_EQ(mounts[0].device, makedev(0, 21));
  EXPECT_EQ(mounts[1].path, "/media/u/Sample Drive");
  EXPECT_EQ(mounts[1].device, makedev(8, 1));
  EXPECT_FALSE(readMounts().empty());
}

TEST(Utf8Test, ValidatesAndCutsOnACharacterBoundary) {
  const std::string e = "\xC3\xA9", euro = "\xE2\x82\xAC", clef = "\xF0\x9D\x84\x9E";
  EXPECT_TRUE(isValidUtf8("a" + e + euro + clef));
  for (const std::string bad : {"\x80", "\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"})
    EXPECT_FALSE(isValidUtf8("x" + bad)) << bad;
  const std::string text = "a" + e + euro;  // 1 + 2 + 3 bytes
  EXPECT_EQ(cutUtf8(text, 6), text);
  EXPECT_EQ(cutUtf8(text, 5), "a" + e);
  EXPECT_EQ(cutUtf8(text, 2), "a");
  EXPECT_EQ(cutUtf8("ab\xFF" "cd", 4), "ab\xFF" "c");  // a stray byte stands for itself
}

TEST(IoTest, ReadsAndWritesWholeAndStopsAtTheLimit) {
  UniqueFd fd(::memfd_create("io", MFD_CLOEXEC));
  const std::string big(200000, 'x');
  ASSERT_TRUE(writeAll(fd.get(), big));
  ::lseek(fd.get(), 0, SEEK_SET);
  std::string back = "kept:";
  ASSERT_TRUE(readAll(fd.get(), back));
  EXPECT_EQ(back, "kept:" + big);
  ::lseek(fd.get(), 0, SEEK_SET);
  std::string cut;
  EXPECT_FALSE(readAll(fd.get(), cut, 100000));
  EXPECT_EQ(errno, EFBIG);
  EXPECT_FALSE(writeAll(-1, "x"));
}

TEST(HomeTest, HomeIsAnAbsoluteHomeVariableElseThePasswordDatabase) {
  {
    ScopedEnv home("HOME", "/somewhere/me");
    EXPECT_EQ(homeFolder(), "/somewhere/me");
  }
  ScopedEnv relative("HOME", "relative");
  EXPECT_EQ(homeFolder(), homeFolderOf(::getuid()));
  EXPECT_EQ(homeFolderOf("no-such-user-here"), std::nullopt);
}

TEST(ChildTest, RunsAnArgumentVectorWithTheEnvironmentAndStreamsItIsGiven) {
  UniqueFd out(::memfd_create("out", MFD_CLOEXEC));
  Child child = Child::start({.argv = {"/bin/sh", "-c", "printf '%s|%s' \"$1\" \"$V\"; exit 3",
                                       "sh", "a b;$(x)"},
                              .environment = std::vector<std::string>{"V=v"},
                              .out = out.get()});
  ASSERT_TRUE(child.started());
  EXPECT_EQ(child.wait(), 3);
  EXPECT_EQ(readFile("/proc/self/fd/" + std::to_string(out.get())), "a b;$(x)|v");

  Child talk = Child::start({.argv = {"/bin/cat"}, .socket = true});
  ASSERT_TRUE(talk.started());
  ASSERT_TRUE(writeAll(talk.stream(), "echo"));
  ::shutdown(talk.stream(), SHUT_WR);
  std::string echoed;
  ASSERT_TRUE(readAll(talk.stream(), echoed));
  EXPECT_EQ(echoed, "echo");
  rusage usage{};
  EXPECT_EQ(talk.wait(&usage), 0);
  EXPECT_GT(usage.ru_maxrss, 0);  // what the benchmark reads a scan's memory from
}

TEST(ChildTest, AProgramThatCannotStartSaysWhyAndASignalIsNoStatus) {
  TempDir dir;
  std::string error;
  Child missing = Child::start({.argv = {dir / "none"}}, &error);
  EXPECT_FALSE(missing.started());
  EXPECT_EQ(error, "cannot start " + dir / "none" + ": No such file or directory");
  EXPECT_EQ(missing.wait(), -1);
  Child killed = Child::start({.argv = {"/bin/sh", "-c", "kill -9 $$"}});
  EXPECT_EQ(killed.wait(), -1);
}

TEST(ChildTest, CancellingEndsTheChildEvenWhenItIgnoresTheRequest) {
  std::atomic<bool> cancel{false};
  // Ignores SIGTERM, so that only the kill after the grace ends it.
  Child stubborn = Child::start({.argv = {"/bin/sh", "-c", "trap '' TERM; exec sleep 60"}});
  std::thread([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    cancel = true;
  }).detach();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(stubborn.waitUnless(cancel, std::chrono::milliseconds(200)), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_FALSE(stubborn.started());  // reaped
  std::atomic<bool> never{false};
  Child quick = Child::start({.argv = {"/bin/true"}});
  EXPECT_EQ(quick.waitUnless(never), 0);
}

}  // namespace
}  // namespace tavo::testing
