#pragma once
// Waiting for sweeper with the window alive: a local event loop that draws
// but takes no input, and after half a second a progress dialog showing the
// line sweeper reported last.

#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>
#include <QWidget>

#include "core/interfaces/helper_wait.h"

namespace tavo {

class QtHelperWait final : public HelperWait {
 public:
  /// The progress dialog is shown over `window`.
  explicit QtHelperWait(QWidget& window) : window_(window) {}
  ~QtHelperWait() override;

  void begin(std::size_t items) override;
  void waitReadable(int fd, std::chrono::milliseconds timeout) override;
  void reported(const std::string& line) override;
  void end() override;

  /// Shown only once the run has lasted this long.
  static constexpr int kShowAfterMs = 500;
  /// The dialog of the run under way, or null while none is shown.
  QProgressDialog* dialog() const { return dialog_; }

 private:
  void showIfLong();
  void updateDialog();

  QWidget& window_;
  QElapsedTimer running_;
  QPointer<QProgressDialog> dialog_;
  std::size_t items_ = 0;
  std::size_t done_ = 0;
  QString lastLine_;
};

}  // namespace tavo
