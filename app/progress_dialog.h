#pragma once
#include <QDialog>
#include <QElapsedTimer>
#include <QProgressBar>
#include <memory>
#include <mutex>
#include <string>

namespace Ui {
class ProgressDialog;
}

namespace tavo {

/// The small dialog shown while the scan runs. Closing it quits.
class ProgressDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ProgressDialog(QWidget* parent = nullptr);
  ~ProgressDialog() override;

  QProgressBar& dialogProgress();
  /// Shows the dialog in front; closing it then quits.
  void showInFront();
  /// Closes the dialog without quitting, as the end of the scan does.
  void closeQuietly();
  /// Shows the product being scanned. Safe from any thread, and never waits
  /// for the dialog's thread: the latest name is shown there, at most ten
  /// times a second.
  void showProduct(const std::string& name);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void updateProduct();

  std::unique_ptr<Ui::ProgressDialog> ui_;
  bool quietly_ = false;
  std::mutex productLock_;       // guards the two below, which the scan writes
  std::string product_;          // the latest name
  bool productQueued_ = false;   // an update is on its way to the dialog's thread
  QElapsedTimer productShown_;   // since the label last changed
};

/// Starts and stops the indeterminate indicator's animation.
void startAnimation(QProgressBar& bar);
void stopAnimation(QProgressBar& bar);

}  // namespace tavo
