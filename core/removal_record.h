#pragma once
// The record of a removal: what it did, step by step, in the order it did it,
// kept in the user's data folder so that the removal can be undone. It is
// written before anything changes and again as each step finishes, so that a
// removal cut short leaves a record of what it did. One binary property list
// per removal, ID.plist, mode 0600, in a folder of mode 0700, both the user's:
// the codec keeps every removed value exactly.
//
// The record is the user's file: whoever reads it trusts nothing in it, and a
// record that cannot be read, or a step of one, is passed over with a log line.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "base/home.h"
#include "base/system_log.h"
#include "plist/plist_value.h"
#include "prefs/prefs_store.h"

namespace tavo {

/// One step of a removal that an undo can reverse.
struct RecordStep {
  enum class Kind { Moved, Forgot, Deleted };
  Kind kind = Kind::Moved;
  // Moved: an item sweeper moved to a trash.
  std::string path = {};       // where it was, as the product listed it
  std::string trashItem = {};  // where it lies now: TRASH/files/NAME
  std::string infoName = {};   // its info file in TRASH/info
  // Forgot: a receipt, as the package tool's "--export" gave it before the forget.
  std::string identifier = {};
  std::optional<PlistDict> receipt = std::nullopt;  // nullopt when it could not be read
  // Deleted: a preference value gone from one scope.
  std::string domain = {};
  std::string keyPath = {};  // the key names joined by "/"
  PrefUser scope = PrefUser::Current;
  PlistValue value = {};
  std::optional<std::size_t> position = std::nullopt;  // among its dictionary's members
  bool restored = false;  // an undo has put it back

  bool operator==(const RecordStep&) const = default;
};

struct RemovalRecord {
  std::string id;  // the file's name without ".plist"; given when first saved
  std::string product, vendor;
  double time = 0;                    // when the removal began: seconds since 2001-01-01 UTC
  std::optional<double> undone;       // when an undo finished, if one did
  std::vector<RecordStep> steps;      // in the order the removal made them

  /// The number of steps of `kind`.
  std::size_t count(RecordStep::Kind kind) const;
  bool operator==(const RemovalRecord&) const = default;
};

/// The folder of one user's records and whose they are.
struct RecordFolder {
  std::string path;  // removalRecordsFolder() of the user's home
  /// The user they are kept for when the process acts for another (root for
  /// a user): they are read and written with that user's file-system ids, so
  /// that they are the user's and root goes nowhere the user could not.
  /// nullopt: the process's own.
  std::optional<UserIds> owner = std::nullopt;
};

/// Seconds since 2001-01-01 UTC, now.
double recordTimeNow();
/// `time` as local "YYYY-MM-DD HH:MM:SS".
std::string recordTimeText(double time);

/// Writes `record` whole in place of its earlier version, giving it an id
/// (from its time) when it has none. The folders are made when missing.
/// False with `error` when it cannot be written.
bool saveRecord(const RecordFolder& folder, RemovalRecord& record, std::string& error);

/// Removes the record `id`, as a removal that did nothing does its own.
void removeRecord(const RecordFolder& folder, const std::string& id);

/// Every record of the folder, newest first; those that cannot be read are
/// passed over with a log line.
std::vector<RemovalRecord> listRecords(const RecordFolder& folder, SystemLog& log);

}  // namespace tavo
