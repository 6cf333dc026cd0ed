#pragma once
// The receipt test: whether the package database holds a product's receipt,
// asked of the package tool in an ordinary, awaited run. A scan asks once
// for every receipt the database holds; a removal asks per receipt.

#include <atomic>
#include <optional>
#include <string>
#include <unordered_set>

#include "base/system_log.h"
#include "plist/plist_value.h"

namespace tavo {

class ReceiptCheck {
 public:
  /// `packageTool` is the tool's path ("" when there is none); a run is
  /// ended early once `cancelled` is set. Both references must outlive this.
  ReceiptCheck(std::string packageTool, SystemLog& log, const std::atomic<bool>& cancelled);

  /// While one lives, recpExists() answers from a single "--pkgs" run of the
  /// tool, made at the first question, instead of a run per identifier; the
  /// answer is forgotten when it goes. A scan holds one.
  class ScanListing {
   public:
    explicit ScanListing(ReceiptCheck& check);
    ~ScanListing();
    ScanListing(const ScanListing&) = delete;
    ScanListing& operator=(const ScanListing&) = delete;

   private:
    ReceiptCheck& check_;
  };

  /// True when the package tool, run with "--files" and `identifier`, exits
  /// with status 0, or, under a ScanListing, lists it. False for any other
  /// end, when the scan is cancelled (the tool is then ended), and when the
  /// tool cannot be started, which is logged (once per listing): that is no
  /// answer about the receipt. A listing the tool fails to give leaves each
  /// identifier to its own "--files" run.
  bool recpExists(const std::string& identifier);

  /// True only when the package tool answered that there is no such receipt:
  /// its "--files" run exited with status 1.
  bool receiptGone(const std::string& identifier);

  /// The receipt and its bill of materials as the package tool's "--export"
  /// prints them; nullopt when the tool says nothing readable.
  std::optional<PlistDict> exportReceipt(const std::string& identifier);

 private:
  enum class Listing { None, NotAsked, Listed, NoAnswer, PerIdentifier };

  /// The exit status of the tool's "--files" run; nullopt when it was not
  /// started or did not end by itself.
  std::optional<int> filesStatus(const std::string& identifier);
  /// Runs "--pkgs" and keeps what it says.
  void list();

  std::string packageTool_;
  SystemLog& log_;
  const std::atomic<bool>& cancelled_;
  Listing listing_ = Listing::None;
  std::unordered_set<std::string> listed_;
};

}  // namespace tavo
