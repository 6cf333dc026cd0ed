// pkgutil --pkgs | --files ID | --forget ID | --unlink ID | --export ID | --restore ID
//
// The package tool of this build: it keeps the receipts that installers leave.
// A receipt is the regular file RECEIPTS/ID.plist (its contents are not read)
// with its bill of materials RECEIPTS/ID.bom. The platform's own bill of
// materials is a binary format that is not ours: this tool's ID.bom is plain
// text, one path per line relative to "/" (a leading "./" is allowed), the
// paths "--files" prints and "--unlink" removes. RECEIPTS is /var/db/receipts.
// "--export" prints the receipt and its bill of materials as a binary property
// list ("Receipt", and "BillOfMaterials" when there is one), which an undo
// keeps. "--forget" keeps what it forgets in RECEIPTS/.forgotten, root's alone,
// and "--restore" puts exactly that back, when the property list on its
// standard input is the same: a bill of materials says what "--unlink" removes
// as root, so none is ever taken from the caller.
// "--pkgs" prints every receipt's identifier, one a line: what a scan asks
// once instead of "--files" per product; it reads nothing a plain user could
// not list, so it takes no identifier and asks no installed product.
// Run through pkexec (PKEXEC_UID set) it acts only on a receipt that a product
// description of the installed bundle names, root's files alone counting.
// "--unlink" walks each path from the root through descriptors, refuses a link
// among its parent folders, removes through the folder it holds and never what
// the safety table keeps (a shared folder such a table names stays quietly, as
// a folder still in use does).
// Exit status 0 on success, 1 otherwise; never 126 or 127, which belong to pkexec.

#include <dirent.h>
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

#include "base/home.h"
#include "base/io.h"
#include "base/path.h"
#include "base/unique_fd.h"
#include "plist/plist_file.h"
#include "safety/path_safety.h"
#include "safety/product_claims.h"

namespace {

using Parts = std::vector<std::string>;

constexpr const char* kKept = ".forgotten";
constexpr std::size_t kMaxReceiptBytes = 16u << 20;

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

/// Every identifier that "--files" finds a receipt for, in byte order. A name
/// that cannot stand on a line of its own is left out: it names no receipt a
/// description file could ask for. A missing folder holds no receipt.
int listPackages(const std::string& receipts) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(receipts.c_str()), &closedir);
  if (!dir) {
    if (errno == ENOENT) return 0;
    return complain("Cannot read " + receipts + ": " + std::strerror(errno));
  }
  const std::string extension = ".plist";
  std::vector<std::string> ids;
  for (errno = 0; const dirent* entry = readdir(dir.get()); errno = 0) {
    const std::string name = entry->d_name;
    if (name.size() <= extension.size() || !name.ends_with(extension)) continue;
    std::string id = name.substr(0, name.size() - extension.size());
    // The entry's own type settles it but for a link, which --files follows.
    struct stat st;
    bool regular = entry->d_type == DT_REG ||
                   ((entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) &&
                    fstatat(dirfd(dir.get()), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode));
    if (regular && plainFileName(id) && id.find('\n') == std::string::npos) ids.push_back(std::move(id));
  }
  if (errno != 0) return complain("Cannot read " + receipts + ": " + std::strerror(errno));
  std::sort(ids.begin(), ids.end());
  for (const std::string& id : ids) std::printf("%s\n", id.c_str());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int listFiles(const std::string& bom) {
  std::vector<std::string> lines;
  std::string error;
  if (!readBom(bom, lines, error)) return complain(error);
  for (const std::string& line : lines) std::printf("%s\n", line.c_str());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

/// The regular file `name` in `folder`, never through a link; false with
/// `error` when it cannot be read, and with `missing` set when it is not there.
bool readFileIn(int folder, const std::string& name, std::string& bytes, bool& missing,
                std::string& error) {
  tavo::UniqueFd fd(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  missing = !fd.valid() && errno == ENOENT;
  if (!fd.valid() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      !tavo::readAll(fd.get(), bytes, kMaxReceiptBytes)) {
    error = "Cannot read " + name + (missing ? ": it is missing" : "");
    return false;
  }
  return true;
}

/// The receipt and its bill of materials in `folder`, as "--export" prints them.
bool receiptIn(int folder, const std::string& id, tavo::PlistDict& receipt, std::string& error) {
  std::string plist, bom;
  bool missing = false;
  if (!readFileIn(folder, id + ".plist", plist, missing, error)) return false;
  receipt.set("Receipt", tavo::PlistData(plist.begin(), plist.end()));
  if (readFileIn(folder, id + ".bom", bom, missing, error)) {
    receipt.set("BillOfMaterials", tavo::PlistData(bom.begin(), bom.end()));
  } else if (!missing) {
    return false;
  }
  return true;
}

int exportReceipt(const std::string& receipts, const std::string& id) {
  tavo::UniqueFd folder(open(receipts.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  tavo::PlistDict receipt;
  std::string error, bytes;
  if (!folder.valid() || !receiptIn(folder.get(), id, receipt, error)) return complain("pkgutil: " + error);
  if (!tavo::serializePlist(receipt, tavo::PlistFormat::Binary, bytes)) return 1;
  return tavo::writeAll(STDOUT_FILENO, bytes) ? 0 : 1;
}

/// The folder of the receipts forgotten, root's alone; made when `create`.
tavo::UniqueFd keptFolder(int receipts, bool create) {
  if (create) mkdirat(receipts, kKept, 0700);
  tavo::UniqueFd kept(openat(receipts, kKept, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (!kept.valid() || fstat(kept.get(), &st) != 0 || st.st_uid != geteuid() ||
      (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return tavo::UniqueFd();
  }
  return kept;
}

// Moves the receipt ID.plist and its ID.bom from one folder to the other, so
// that the pair stays whole: a bill of materials of an earlier receipt at the
// destination goes. Forgetting moves ID.plist first (once it is gone the
// package is forgotten), putting back moves it last and never over a receipt.
bool moveReceipt(int from, int to, const std::string& id, bool forgetting, std::string& error) {
  const std::string plist = id + ".plist", bom = id + ".bom";
  struct stat st;
  const bool hasBom = fstatat(from, bom.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  auto moveBom = [&] {
    return (unlinkat(to, bom.c_str(), 0) == 0 || errno == ENOENT) &&
           (!hasBom || renameat(from, bom.c_str(), to, bom.c_str()) == 0);
  };
  bool moved = forgetting
                   ? renameat(from, plist.c_str(), to, plist.c_str()) == 0 && moveBom()
                   : moveBom() && renameat2(from, plist.c_str(), to, plist.c_str(), RENAME_NOREPLACE) == 0;
  if (!moved) error = std::strerror(errno);
  return moved;
}

int forget(const std::string& receipts, const std::string& id) {
  tavo::UniqueFd folder(open(receipts.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  tavo::UniqueFd kept = folder.valid() ? keptFolder(folder.get(), true) : tavo::UniqueFd();
  std::string error;
  if (!kept.valid() || !moveReceipt(folder.get(), kept.get(), id, true, error)) {
    // Forgotten all the same, but no undo can put it back.
    std::fprintf(stderr, "pkgutil: keeping no copy of '%s': %s\n", id.c_str(),
                 error.empty() ? "no folder of root's alone for it" : error.c_str());
    const std::string plist = receipts + "/" + id + ".plist", bom = receipts + "/" + id + ".bom";
    if (unlink(plist.c_str()) != 0 && errno != ENOENT) {
      return complain("Cannot forget package '" + id + "': " + std::strerror(errno));
    }
    if (unlink(bom.c_str()) != 0 && errno != ENOENT) {
      return complain("Cannot remove " + bom + ": " + std::strerror(errno));
    }
  }
  std::printf("Forgot package '%s' on '/'.\n", id.c_str());
  return 0;
}

// What comes back is the copy "--forget" kept, and only when the caller's
// record of it (standard input) is the same.
int restore(const std::string& receipts, const std::string& id) {
  std::string given, error;
  tavo::PlistDict kept;
  tavo::UniqueFd folder(open(receipts.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  tavo::UniqueFd keptFd = folder.valid() ? keptFolder(folder.get(), false) : tavo::UniqueFd();
  if (!tavo::readAll(STDIN_FILENO, given, 2 * kMaxReceiptBytes + 4096)) {
    return complain("pkgutil: cannot read the receipt to put back");
  }
  if (!keptFd.valid() || !receiptIn(keptFd.get(), id, kept, error)) {
    return complain("pkgutil: no forgotten receipt of '" + id + "' is kept");
  }
  tavo::PlistFile record = tavo::parsePlist(given);
  if (record.state != tavo::PlistFile::State::Ok || !(record.dict == kept)) {
    return complain("pkgutil: the receipt of '" + id + "' kept is not the one given");
  }
  if (!moveReceipt(keptFd.get(), folder.get(), id, false, error)) {
    return complain("pkgutil: cannot put back '" + id + "': " + error);
  }
  std::printf("Restored package '%s' on '/'.\n", id.c_str());
  return 0;
}

/// Removes one listed path, `parts` below the folder `root`: a file or link
/// always, a folder only when empty, reached one folder at a time without
/// following any link. False with `error` when it must stay, or could not go.
bool removeListed(int root, const Parts& parts, const tavo::SafetyCheck& check, std::string& error) {
  const std::string shown = tavo::joinParts(parts);
  tavo::UniqueFd folder(fcntl(root, F_DUPFD_CLOEXEC, 0));
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    folder.reset(openat(folder.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.valid()) continue;
    if (errno == ENOENT) return true;  // its folder is gone, and so is it
    error = "Refusing " + shown + ": " + (errno == ELOOP || errno == ENOTDIR
                                              ? std::string("a folder on its way is a link or no folder")
                                              : std::strerror(errno));
    return false;
  }
  struct stat st;
  const char* name = parts.back().c_str();
  if (fstatat(folder.get(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (std::optional<std::string> why = check.refusalResolved(parts)) {
    if (S_ISDIR(st.st_mode)) return true;  // shared: in use by others, as a folder that is not empty
    error = "Refusing " + shown + ": " + *why;
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    // A folder that still holds something is shared with another package.
    if (unlinkat(folder.get(), name, AT_REMOVEDIR) == 0 || errno == ENOTEMPTY || errno == EEXIST ||
        errno == EBUSY) {
      return true;
    }
  } else if (unlinkat(folder.get(), name, 0) == 0 || errno == ENOENT) {
    return true;
  }
  error = "Cannot remove " + shown + ": " + std::strerror(errno);
  return false;
}

/// The user pkexec ran the tool for; nullopt when PKEXEC_UID is not a plain
/// user id, which pkexec never sets: read leniently, "" or "x" would be root.
std::optional<uid_t> pkexecUid(const char* text) {
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (*text < '0' || *text > '9' || *end != '\0' || errno != 0 ||
      value >= static_cast<unsigned long>(static_cast<uid_t>(-1)))
    return std::nullopt;
  return static_cast<uid_t>(value);
}

// The table protects the home and Trash of the user the run is for.
tavo::SafetyCheck safetyCheck() {
  const char* pkexec = std::getenv("PKEXEC_UID");
  uid_t uid = getuid();
  if (pkexec) uid = pkexecUid(pkexec).value();  // checked before anything is done
  std::string home = tavo::homeFolderOf(uid).value_or("");
  return tavo::SafetyCheck({home, home.empty() ? "" : home + "/.local/share/Trash"});
}

int unlinkFiles(const std::string& bom, const std::string& root) {
  if (root.empty()) return complain("TAVO_TEST_ROOT must name an absolute folder");
  tavo::UniqueFd rootFd(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!rootFd.valid()) return complain("Cannot open " + root + ": " + std::strerror(errno));
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
  // Judged as the paths they are on the machine, below "/".
  const tavo::SafetyCheck check = safetyCheck();
  for (const Parts& parts : paths) {
    if (!removeListed(rootFd.get(), parts, check, error)) status = complain(error);
  }
  return status;
}

/// Whether the run may act on `id`: always for root's own runs; through pkexec
/// only when an installed product names it.
bool mayActOn(const std::string& id, std::string& error) {
  const char* pkexec = std::getenv("PKEXEC_UID");
  if (!pkexec) return true;
  if (!pkexecUid(pkexec)) {
    error = "PKEXEC_UID is not a user id";
    return false;
  }
  std::optional<std::string> resources = tavo::ownBundleResources();
  std::optional<tavo::ProductClaims> claims =
      resources ? tavo::readProductClaims(*resources, error) : std::nullopt;
  if (claims && claims->receipts.count(id) != 0) return true;
  error = "'" + id + "' is not a package that an installed product names" +
          (claims ? "" : resources ? " (" + error + ")" : " (no application bundle holds this program)");
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr const char* kUsage =
      "usage: pkgutil --pkgs | --files ID | --forget ID | --unlink ID | --export ID | --restore ID";
  if (argc == 2 && std::strcmp(argv[1], "--pkgs") == 0) {
    Roots roots;
    std::string error;
    if (!findRoots(roots, error)) return complain("pkgutil: " + error);
    return listPackages(roots.receipts);
  }
  if (argc != 3) return complain(kUsage);
  const std::string option = argv[1];
  const std::string id = argv[2];
  if (option != "--files" && option != "--forget" && option != "--unlink" && option != "--export" &&
      option != "--restore") {
    return complain("pkgutil: unknown option " + option);
  }
  if (!plainFileName(id)) return complain("pkgutil: '" + id + "' is not a package identifier");
  Roots roots;
  std::string error;
  if (!mayActOn(id, error)) return complain("pkgutil: " + error);
  if (!findRoots(roots, error)) return complain("pkgutil: " + error);

  const std::string plist = roots.receipts + "/" + id + ".plist";
  const std::string bom = roots.receipts + "/" + id + ".bom";
  if (option == "--restore") {
    if (hasReceipt(plist)) return complain("pkgutil: '" + id + "' has a receipt already");
    return restore(roots.receipts, id);
  }
  if (!hasReceipt(plist)) return complain("No receipt for '" + id + "' found at '/'.");
  if (option == "--files") return listFiles(bom);
  if (option == "--export") return exportReceipt(roots.receipts, id);
  if (option == "--forget") return forget(roots.receipts, id);
  return unlinkFiles(bom, roots.root);
}
