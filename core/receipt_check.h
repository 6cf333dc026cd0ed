#pragma once
// The receipt test: whether the package database holds a product's receipt,
// asked of the package tool in an ordinary, awaited run.

#include <atomic>
#include <string>

#include "base/system_log.h"

namespace tavo {

class ReceiptCheck {
 public:
  /// `packageTool` is the tool's path ("" when there is none); a run is
  /// ended early once `cancelled` is set. Both references must outlive this.
  ReceiptCheck(std::string packageTool, SystemLog& log, const std::atomic<bool>& cancelled);

  /// True when the package tool, run with "--files" and `identifier`, exits
  /// with status 0. False for any other end, when the scan is cancelled (the
  /// tool is then ended), and when the tool cannot be started, which is
  /// logged: that is no answer about the receipt.
  bool recpExists(const std::string& identifier);

 private:
  std::string packageTool_;
  SystemLog& log_;
  const std::atomic<bool>& cancelled_;
};

}  // namespace tavo
