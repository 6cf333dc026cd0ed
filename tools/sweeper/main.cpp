// sweeper [--for UID] TRASH_DIR LIST_FILE
// sweeper [--for UID] --restore TRASH_DIR LIST_FILE
//
// Moves every path of the list file (UTF-8, one path per line, each line ended
// by a line feed) into a freedesktop.org trash: the home Trash at TRASH_DIR
// for what lies on its filesystem, else the top-directory trash of the item's
// own filesystem ($topdir/.Trash/UID when that is a sticky folder, else
// $topdir/.Trash-UID), so that each item moves by one rename. Only where that
// trash cannot be used is the item copied into the home Trash and its source
// removed, entry by entry, where it has not changed since it was copied.
//
// It runs as root but acts for one user: PKEXEC_UID when pkexec started it;
// on a run root started itself, the user --for names (root acting for
// another user, who could have made their Trash's folders lead to someone
// else's), else the owner of the nearest existing folder of TRASH_DIR; --for
// under pkexec refuses the run. Everything the caller hands it is treated as
// hostile. TRASH_DIR must lie inside that user's home folder (the password
// database's), and its folders are made and opened with the user's
// file-system ids; so are a drive's trash folders. The list file must be the
// user's own (or root's, when root started the run). An item moves only when
// the user could move it themselves, or when it lies at or below a path that
// a product description of the installed bundle names (root's files alone
// count); the safety table applies on top. Only such a product's items are
// given to the user whole, so that they can empty the Trash; what the user
// could move themselves keeps its owners, so that nobody reads what they
// could not before.
// An item of another owner given away keeps its original owner, group and mode
// in its info file (X-TAVO-OriginalOwner=UID:GID:MODE). A copy never makes a
// device and never keeps a set-user-ID or set-group-ID bit.
//
// One line per listed path on standard output, beginning with its outcome,
// in the format of safety/sweeper_lines.h; during a copy, a few lines a second
// more say how far it is. Exit status 0 when every existing
// path was moved, 1 otherwise; never 126 or 127, which belong to pkexec.
//
// With --restore it puts items back from the user's trashes, for the same
// user under the same rules. The list holds two lines per item: its path in a
// trash of the user's (TRASH/files/NAME: the home Trash at TRASH_DIR, or a
// top-directory trash of theirs) and the path it was moved from, which its
// info file must name too. It goes back when that place is free, its folder
// is there, the safety table lets the path go, and the user could put an
// entry there themselves (then as it is, by one rename where it can) or an
// installed description names the path and its folder is root's alone (then
// as a new copy whose every entry is that folder's owner's, writable by the
// owner alone and never set-ID: the Trash holds the user's writing, and their
// info file's word on the original owner counts for nothing). Its info file
// goes with it. "moved: ITEM -> PATH" says it is back; anything else is not,
// and the exit status is then 1. A copy back is made in a folder
// .sweeper-restoring.PID.N beside the place and renamed there once whole.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/io.h"
#include "base/path.h"
#include "base/path_walk.h"
#include "base/unique_fd.h"
#include "base/utf8.h"
#include "safety/path_safety.h"
#include "safety/product_claims.h"
#include "safety/sweeper_lines.h"
#include "tools/sweeper/list_text.h"
#include "tools/sweeper/trash.h"
#include "tools/sweeper/trashes.h"
#include "tools/sweeper/user.h"

namespace {

constexpr off_t kMaxListBytes = 16 << 20;
// A copy says how far it is at most this often.
constexpr std::chrono::milliseconds kProgressEvery{300};

namespace lines = tavo::sweeperlines;
using Kind = lines::Kind;

void say(const lines::Line& line) {
  std::fputs((lines::encode(line) + "\n").c_str(), stdout);
  std::fflush(stdout);
}

void say(Kind kind, const std::string& path, const std::string& detail) {
  say(lines::Line{.kind = kind, .path = path, .detail = detail});
}

int fail(const std::string& why) {
  say(Kind::Fatal, "", why);
  return 1;
}

/// `text` as a user id; nullopt with `error` when it is not a plain number.
std::optional<uid_t> uidIn(const char* text, const std::string& what, std::string& error) {
  char* end = nullptr;
  errno = 0;
  unsigned long value = std::strtoul(text, &end, 10);
  if (*text < '0' || *text > '9' || *end != '\0' || errno != 0 ||
      value >= static_cast<unsigned long>(static_cast<uid_t>(-1))) {
    error = what + " is not a user id";
    return std::nullopt;
  }
  return static_cast<uid_t>(value);
}

/// The owner of the nearest existing folder of `path`; nullopt on any error.
std::optional<uid_t> ownerOfNearest(std::string path, std::string& error) {
  for (;;) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return st.st_uid;
    if ((errno != ENOENT && errno != ENOTDIR) || path == "/") {
      error = "cannot find whose Trash " + path + " is: " + std::strerror(errno);
      return std::nullopt;
    }
    path = tavo::parentPath(path);
  }
}

/// The user the run acts for: PKEXEC_UID under pkexec, else the one `named`
/// by --for, else the one the Trash belongs to; nullopt with `error` when
/// none can be told. Only root's own run names its user: under pkexec the
/// caller chose the arguments.
std::optional<tavo::User> actingUser(const std::string& trash, const char* named,
                                     std::string& error) {
  const char* pkexec = std::getenv("PKEXEC_UID");
  if (pkexec && named) {
    error = "--for names the user only on a run that root started itself";
    return std::nullopt;
  }
  std::optional<uid_t> uid = pkexec ? uidIn(pkexec, "PKEXEC_UID", error)
                             : named ? uidIn(named, "the --for argument", error)
                                     : ownerOfNearest(trash, error);
  if (!uid) return std::nullopt;
  std::optional<tavo::User> user = tavo::lookUpUser(*uid);
  if (!user) error = "no home folder known for user " + std::to_string(*uid);
  return user;
}

/// The list file's bytes; false with `error` when it is not a regular file of
/// the user's own that only they may write, opened as they would open it, or
/// is too large or unreadable. Nothing of a file that is not theirs is shown.
/// On a run that root started itself (`byRoot`: no pkexec), as under
/// `sudo tavo-uninstall`, root's own list serves as well and is read as root.
bool readList(const std::string& path, const tavo::User& user, bool byRoot, std::string& text,
              std::string& error) {
  tavo::UniqueFd fd;
  {
    std::optional<tavo::AsUser> as;
    if (!byRoot) as.emplace(user);
    // Non-blocking, so that a FIFO given as the list cannot hang the run.
    if (!as || as->ok()) {
      fd.reset(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
    }
  }
  struct stat st;
  if (!fd.valid() || fstat(fd.get(), &st) != 0) {
    error = "cannot open the list file " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "the list file " + path + " is not a regular file";
    return false;
  }
  // Root moves what it names: nobody but the user (or root, on its own run) may have written it.
  if ((st.st_uid != user.uid && !(byRoot && st.st_uid == 0)) || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    error = "the list file " + path + " is not the user's alone";
    return false;
  }
  if (st.st_size > kMaxListBytes) {
    error = "the list file " + path + " is too large";
    return false;
  }
  if (!tavo::readAll(fd.get(), text, kMaxListBytes)) {
    error = errno == EFBIG ? "the list file " + path + " is too large"
                           : "cannot read the list file " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

/// What the installed bundle's descriptions name; none, with `why`, when they
/// cannot be trusted.
struct Claims {
  tavo::ProductClaims named;
  std::string why;

  static Claims load() {
    Claims claims;
    std::optional<std::string> resources = tavo::ownBundleResources();
    std::optional<tavo::ProductClaims> read =
        resources ? tavo::readProductClaims(*resources, claims.why) : std::nullopt;
    if (!resources) claims.why = "this program does not lie in an application bundle";
    if (read) claims.named = std::move(*read);
    return claims;
  }
};

struct Run {
  const tavo::User& user;
  const Claims& claims;
  tavo::SafetyCheck check;
  tavo::Trash& home;
  tavo::Trashes trashes;
};

// "copying:" lines for `path`: one as the copy starts, then at most one per kProgressEvery.
tavo::CopyProgress progressOf(const std::string& path) {
  using Clock = std::chrono::steady_clock;
  return [path, last = Clock::time_point()](std::uint64_t done, std::uint64_t total) mutable {
    const Clock::time_point now = Clock::now();
    if (done != 0 && now - last < kProgressEvery) return;
    last = now;
    say({.kind = Kind::Copying, .path = path, .done = done, .total = total});
  };
}

// Where the item goes, and how: one rename into its filesystem's trash, or a
// copy into the home Trash with the reason in `copiedWhy`.
tavo::MoveResult moveItem(const tavo::Item& item, const std::string& listed,
                          const std::vector<std::string>& parentParts, Run& run, std::string& copiedWhy) {
  struct statvfs vfs;
  if (fstatvfs(item.parent, &vfs) == 0 && (vfs.f_flag & ST_RDONLY) != 0) {
    return tavo::MoveResult::failed("its filesystem is read-only");
  }
  tavo::Trash* trash = run.trashes.forFolder(item.parent, parentParts, copiedWhy);
  if (trash) {
    tavo::MoveResult result = trash->rename(item);
    if (!result.acrossFilesystems) return result;
    copiedWhy = "a rename cannot reach " + std::string(trash == &run.home ? "the home Trash" : "its trash");
  }
  return run.home.copy(item, progressOf(listed));
}

/// Handles one line; true when it was moved or is missing.
bool sweep(const std::string& path, Run& run) {
  if (!tavo::isValidUtf8(path)) {
    say(Kind::Refused, path, "is not valid UTF-8");
    return false;
  }
  if (std::optional<std::string> why = run.check.refusalAsWritten(path)) {
    say(Kind::Refused, path, *why);
    return false;
  }
  // One resolution, held open: the table judges the folder the move acts in.
  std::vector<std::string> parts = tavo::splitPath(path);
  tavo::ResolvedPath parent;
  std::string error;
  if (!tavo::resolvePath({parts.begin(), parts.end() - 1}, parent, error)) {
    say(Kind::Refused, path, "its parent folders cannot be resolved: " + error);
    return false;
  }
  std::vector<std::string> resolved = parent.parts;
  resolved.push_back(parts.back());
  if (std::optional<std::string> why = run.check.refusalResolved(resolved)) {
    say(Kind::Refused, path, "resolves to " + tavo::joinParts(resolved) + ", which " + *why);
    return false;
  }
  struct stat st;
  if (!parent.fd.valid() || fstat(parent.fd.get(), &st) != 0 || !S_ISDIR(st.st_mode) ||
      fstatat(parent.fd.get(), parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT && errno != ENOTDIR && parent.fd.valid()) {
      say(Kind::NotMoved, path, std::string("cannot look at it: ") + std::strerror(errno));
      return false;
    }
    say(Kind::Skipped, path, "does not exist");
    return true;
  }
  // The user's own to move, or a product's: nothing else, whatever the list says.
  const bool claimed = run.claims.named.covers(resolved);
  if (!claimed &&
      !tavo::userMayMove(run.user, parent.fd.get(), tavo::joinParts(parent.parts), parts.back(), st)) {
    std::string why = "the user may not move it, and no installed product names it";
    if (!run.claims.why.empty()) why += " (the installed descriptions do not count: " + run.claims.why + ")";
    say(Kind::Refused, path, why);
    return false;
  }
  const tavo::Item item{parent.fd.get(), parts.back(), tavo::joinParts(resolved), st.st_dev,
                        st.st_ino, claimed && run.user.uid != 0};
  std::string copiedWhy;
  tavo::MoveResult result = moveItem(item, path, parent.parts, run, copiedWhy);
  switch (result.outcome) {
    case tavo::MoveResult::Outcome::Moved:
      say({.kind = Kind::Moved, .path = path, .where = result.where, .copied = copiedWhy});
      return true;
    case tavo::MoveResult::Outcome::Missing:
      say(Kind::Skipped, path, "does not exist");
      return true;
    case tavo::MoveResult::Outcome::Partial:
      say({.kind = Kind::PartlyMoved, .path = path, .where = result.where, .detail = result.detail,
           .copied = copiedWhy});
      return false;
    case tavo::MoveResult::Outcome::Failed:
      break;
  }
  say(Kind::NotMoved, path, result.detail);
  return false;
}

// The trash of the user's that `parts` (an absolute path, split) names: the
// home Trash, or the trash sweeper uses for the filesystem holding it.
tavo::Trash* trashAt(const std::vector<std::string>& parts, Run& run, std::string& why) {
  if (tavo::joinParts(parts) == run.home.path()) return &run.home;
  tavo::ResolvedPath above;
  tavo::Trash* trash = nullptr;
  if (parts.size() >= 2 && tavo::resolvePath({parts.begin(), parts.end() - 1}, above, why) &&
      above.fd.valid()) {
    trash = run.trashes.forFolder(above.fd.get(), above.parts, why);
  }
  if (trash && trash->path() == tavo::joinParts(parts)) return trash;
  why = "it is not in a trash of the user's";
  return nullptr;
}

/// Puts one item back; true when it is back.
bool putBack(const std::string& listed, const std::string& original, Run& run) {
  if (!tavo::isValidUtf8(listed) || !tavo::isValidUtf8(original)) {
    say(Kind::Refused, listed, "is not valid UTF-8");
    return false;
  }
  const std::vector<std::string> item = tavo::splitPath(listed);
  const bool plain = std::none_of(item.begin(), item.end(), [](const std::string& p) { return p == "." || p == ".."; });
  if (listed.empty() || listed[0] != '/' || !plain || item.size() < 3 || item[item.size() - 2] != "files") {
    say(Kind::Refused, listed, "is not an item of a trash");
    return false;
  }
  std::string why;
  tavo::Trash* trash = trashAt({item.begin(), item.end() - 2}, run, why);
  if (!trash) {
    say(Kind::Refused, listed, why);
    return false;
  }
  // Where it goes is judged as the removal judged where it came from.
  if (std::optional<std::string> refusal = run.check.refusalAsWritten(original)) {
    say(Kind::Refused, listed, original + " " + *refusal);
    return false;
  }
  std::vector<std::string> parts = tavo::splitPath(original);
  tavo::ResolvedPath parent;
  if (parts.empty()) {
    say(Kind::Refused, listed, "names no place to put it back at");
    return false;
  }
  if (!tavo::resolvePath({parts.begin(), parts.end() - 1}, parent, why) || !parent.fd.valid()) {
    say(Kind::NotMoved, listed, "the folder of " + original + " is gone" + (why.empty() ? "" : ": " + why));
    return false;
  }
  std::vector<std::string> resolved = parent.parts;
  resolved.push_back(parts.back());
  if (std::optional<std::string> refusal = run.check.refusalResolved(resolved)) {
    say(Kind::Refused, listed, original + " resolves to " + tavo::joinParts(resolved) + ", which " + *refusal);
    return false;
  }
  tavo::Place place{parent.fd.get(), parts.back(), tavo::joinParts(resolved), std::nullopt};
  if (!tavo::userMayPlace(run.user, parent.fd.get(), tavo::joinParts(parent.parts))) {
    struct stat folder;
    if (!run.claims.named.covers(resolved)) {
      why = "the user may not put it at " + original + ", and no installed product names it";
      if (!run.claims.why.empty()) why += " (the installed descriptions do not count: " + run.claims.why + ")";
      say(Kind::Refused, listed, why);
      return false;
    }
    if (fstat(parent.fd.get(), &folder) != 0 || folder.st_uid != 0 ||
        (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
      say(Kind::Refused, listed, "the folder of " + original + " is not root's alone");
      return false;
    }
    place.asOwner = tavo::TreeOwner{folder.st_uid, folder.st_gid};
  }
  std::string copiedWhy;
  tavo::MoveResult result = trash->restore(item.back(), place, progressOf(listed), copiedWhy);
  switch (result.outcome) {
    case tavo::MoveResult::Outcome::Moved:
      say({.kind = Kind::Moved, .path = listed, .where = original, .copied = copiedWhy});
      return true;
    case tavo::MoveResult::Outcome::Missing:
      say(Kind::NotMoved, listed, "it is no longer in the trash");
      return false;
    case tavo::MoveResult::Outcome::Partial:
      say({.kind = Kind::PartlyMoved, .path = listed, .where = original, .detail = result.detail,
           .copied = copiedWhy});
      return false;
    case tavo::MoveResult::Outcome::Failed:
      break;
  }
  say(Kind::NotMoved, listed, result.detail);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that goes away must not kill a move half-way.
  std::signal(SIGPIPE, SIG_IGN);
  // A file is removed under a lease, whose break the kernel signals with SIGIO.
  std::signal(SIGIO, SIG_IGN);
  umask(077);
  // [--for UID] [--restore] TRASH_DIR LIST_FILE
  const bool named = argc >= 5 && std::strcmp(argv[1], "--for") == 0;
  const int at = named ? 3 : 1;
  const bool restoring = argc > at && std::strcmp(argv[at], "--restore") == 0;
  if (argc != at + (restoring ? 3 : 2)) {
    return fail("usage: sweeper [--for UID] [--restore] TRASH_DIR LIST_FILE");
  }
  const std::string trashPath = argv[restoring ? at + 1 : at];
  const std::string listPath = argv[restoring ? at + 2 : at + 1];
  if (!tavo::resolveParents(trashPath) || trashPath == "/") {
    return fail("the Trash folder must be an absolute path without \".\" or \"..\"");
  }

  std::string error;
  std::optional<tavo::User> user = actingUser(trashPath, named ? argv[2] : nullptr, error);
  if (!user) return fail(error);
  std::string list;
  if (!readList(listPath, *user, !std::getenv("PKEXEC_UID"), list, error)) return fail(error);

  const tavo::ListText listText = tavo::splitListText(list);
  const std::vector<std::string>& lines = listText.lines;
  bool allMoved = true;
  if (listText.unterminated) {
    say(Kind::Refused, *listText.unterminated, "the line is not ended by a line feed");
    allMoved = false;
  }
  if (lines.empty()) return allMoved ? 0 : 1;

  std::optional<tavo::Trash> home = tavo::Trash::openHome(trashPath, *user, error);
  if (!home) return fail("cannot use the Trash " + trashPath + ": " + error);
  const Claims claims = Claims::load();
  Run run{*user, claims, tavo::SafetyCheck({user->home, trashPath}), *home, tavo::Trashes(*home, *user)};
  if (!restoring) {
    for (const std::string& line : lines) allMoved = sweep(line, run) && allMoved;
    return allMoved ? 0 : 1;
  }
  for (std::size_t i = 0; i + 1 < lines.size(); i += 2) allMoved = putBack(lines[i], lines[i + 1], run) && allMoved;
  if (lines.size() % 2 != 0) {
    say(Kind::Refused, lines.back(), "names no path to put it back at");
    allMoved = false;
  }
  return allMoved ? 0 : 1;
}
