#pragma once
#include <QDialog>
#include <QProgressBar>
#include <memory>

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

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  std::unique_ptr<Ui::ProgressDialog> ui_;
  bool quietly_ = false;
};

/// Starts and stops the indeterminate indicator's animation.
void startAnimation(QProgressBar& bar);
void stopAnimation(QProgressBar& bar);

}  // namespace tavo
