#pragma once

#include <string>

namespace tavo {

class ScanRelay {
 public:
  virtual ~ScanRelay() = default;
  /// Told on the scan worker thread, as the scan starts on each product of
  /// the description files, with the product's name. Returns at once: the
  /// scan never waits for whatever shows it.
  virtual void scanningProduct(const std::string& name) { (void)name; }
  /// Told on the main thread, last of the scan's closing steps, that the
  /// scan has ended.
  virtual void scanFinished() = 0;
};

}  // namespace tavo
