// pkgutil --files ID | --forget ID | --unlink ID
//
// The package tool of this build: it keeps the receipts that installers leave.
// A receipt is the regular file RECEIPTS/ID.plist (its contents are not read)
// with its bill of materials RECEIPTS/ID.bom. The platform's own bill of
// materials is a binary format that is not ours: this tool's ID.bom is plain
// text, one path per line relative to "/" (a leading "./" is allowed), the
// paths "--files" prints and "--unlink" removes. RECEIPTS is /var/db/receipts.
// Exit status 0 on success, 1 otherwise; never 126 or 127, which belong to pkexec.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/path.h"

namespace {

using Parts = std::vector<std::string>;

struct Roots {
  std::string receipts;  // the folder of the receipts
  std::string root;      // what the paths of a bill of materials are relative to
};

int complain(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  return 1;
}

#ifdef TAVO_TEST_ROOTS
// Test build only, never installed: the shipped tool has no override, so that
// no caller can redirect where a root tool removes files.
bool findRoots(Roots& roots, std::string& error) {
  const char* receipts = std::getenv("TAVO_TEST_RECEIPTS_DIR");
  const char* root = std::getenv("TAVO_TEST_ROOT");
  if (!receipts || receipts[0] != '/') {
    error = "TAVO_TEST_RECEIPTS_DIR must name an absolute folder";
    return false;
  }
  roots = Roots{receipts, root && root[0] == '/' ? root : ""};
  return true;
}
#else
bool findRoots(Roots& roots, std::string&) {
  roots = Roots{"/var/db/receipts", "/"};
  return true;
}
#endif

/// False for what could name another file than ID.plist in the folder.
bool plainFileName(const std::string& id) {
  return !id.empty() && id != "." && id != ".." && id.find('/') == std::string::npos &&
         id.find('\0') == std::string::npos;
}

bool hasReceipt(const std::string& plist) {
  struct stat st;
  return stat(plist.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

/// The non-empty lines of the bill of materials; none when there is no file.
/// False with `error` when it exists but cannot be read.
bool readBom(const std::string& path, std::vector<std::string>& lines, std::string& error) {
  std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "re"), &std::fclose);
  if (!file) {
    if (errno == ENOENT) return true;
    error = "Cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string line;
  for (int c; (c = std::fgetc(file.get())) != EOF;) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    if (!line.empty()) lines.push_back(line);
    line.clear();
  }
  if (std::ferror(file.get())) {
    error = "Cannot read " + path;
    return false;
  }
  if (!line.empty()) lines.push_back(line);
  return true;
}

// `parts` below `root`, which is "/" in the shipped tool.
std::string join(const std::string& root, const Parts& parts) {
  if (root == "/" || parts.empty()) return parts.empty() ? root : tavo::joinParts(parts);
  return root + tavo::joinParts(parts);
}

std::optional<std::string> realPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
  if (!real) return std::nullopt;
  return std::string(real.get());
}

bool within(const std::string& path, const std::string& root) {
  return root == "/" || path == root || path.rfind(root + "/", 0) == 0;
}

int listFiles(const std::string& bom) {
  std::vector<std::string> lines;
  std::string error;
  if (!readBom(bom, lines, error)) return complain(error);
  for (const std::string& line : lines) std::printf("%s\n", line.c_str());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int forget(const std::string& id, const std::string& plist, const std::string& bom) {
  // The receipt file goes first: once it is gone the package is forgotten.
  if (unlink(plist.c_str()) != 0) {
    return complain("Cannot forget package '" + id + "': " + std::strerror(errno));
  }
  if (unlink(bom.c_str()) != 0 && errno != ENOENT) {
    return complain("Cannot remove " + bom + ": " + std::strerror(errno));
  }
  std::printf("Forgot package '%s' on '/'.\n", id.c_str());
  return 0;
}

/// Removes one listed path: a file or link always, a folder only when empty.
/// False with `error` when it could not be removed.
bool removeListed(const std::string& path, const std::string& realRoot, std::string& error) {
  std::optional<std::string> parent = realPath(tavo::parentPath(path));
  if (!parent) return true;  // its folder is gone, and so is it
  // A link among its folders must not lead the removal out of the root.
  if (!within(*parent, realRoot)) {
    error = path + " lies outside " + realRoot;
    return false;
  }
  std::string target = tavo::joinPath(*parent, tavo::baseName(path));
  struct stat st;
  if (lstat(target.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR;
  if (S_ISDIR(st.st_mode)) {
    // A folder that still holds something is shared with another package.
    if (rmdir(target.c_str()) == 0 || errno == ENOTEMPTY || errno == EEXIST || errno == EBUSY) {
      return true;
    }
  } else if (unlink(target.c_str()) == 0 || errno == ENOENT) {
    return true;
  }
  error = "Cannot remove " + target + ": " + std::strerror(errno);
  return false;
}

int unlinkFiles(const std::string& bom, const std::string& root) {
  if (root.empty()) return complain("TAVO_TEST_ROOT must name an absolute folder");
  std::optional<std::string> realRoot = realPath(root);
  if (!realRoot) return complain("Cannot open " + root + ": " + std::strerror(errno));
  std::vector<std::string> lines;
  std::string error;
  if (!readBom(bom, lines, error)) return complain(error);

  int status = 0;
  std::vector<Parts> paths;
  for (const std::string& line : lines) {
    Parts parts = tavo::splitPath(line);
    if (!parts.empty() && parts.front() == ".") parts.erase(parts.begin());  // "./x", and "." for the root
    bool plain = std::none_of(parts.begin(), parts.end(), [](const std::string& part) {
      return part == "." || part == "..";
    });
    if (!plain) {
      status = complain("Refusing " + line + ": it holds \".\" or \"..\"");
    } else if (!parts.empty()) {
      paths.push_back(parts);
    }
  }
  // Deepest first, so that a folder is looked at once what it held is gone.
  std::stable_sort(paths.begin(), paths.end(), [](const Parts& a, const Parts& b) {
    return a.size() > b.size();
  });
  for (const Parts& parts : paths) {
    if (!removeListed(join(root, parts), *realRoot, error)) status = complain(error);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return complain("usage: pkgutil --files ID | --forget ID | --unlink ID");
  const std::string option = argv[1];
  const std::string id = argv[2];
  if (option != "--files" && option != "--forget" && option != "--unlink") {
    return complain("pkgutil: unknown option " + option);
  }
  if (!plainFileName(id)) return complain("pkgutil: '" + id + "' is not a package identifier");
  Roots roots;
  std::string error;
  if (!findRoots(roots, error)) return complain("pkgutil: " + error);

  const std::string plist = roots.receipts + "/" + id + ".plist";
  const std::string bom = roots.receipts + "/" + id + ".bom";
  if (!hasReceipt(plist)) return complain("No receipt for '" + id + "' found at '/'.");
  if (option == "--files") return listFiles(bom);
  if (option == "--forget") return forget(id, plist, bom);
  return unlinkFiles(bom, roots.root);
}
