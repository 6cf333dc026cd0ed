#pragma once

namespace tavo {

/// Told on the main thread, last of the scan's closing steps, that the
/// scan has ended.
class ScanRelay {
 public:
  virtual ~ScanRelay() = default;
  virtual void scanFinished() = 0;
};

}  // namespace tavo
