#pragma once
// Waiting for sweeper with the window alive: a local event loop that draws
// but takes no input, and from half a second on until the run ends a
// progress dialog showing the line sweeper reported last, moving within an
// item while sweeper reports a long copy.

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
  std::size_t done_ = 0;     // items sweeper has reported on
  double itemPart_ = 0;      // how much of the item under way is copied, 0 to 1
  QString lastLine_;
};

}  // namespace tavo
