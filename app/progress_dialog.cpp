#include "app/progress_dialog.h"

#include <QCloseEvent>
#include <QCoreApplication>

#include "ui_progress_dialog.h"

namespace tavo {

ProgressDialog::ProgressDialog(QWidget* parent) : QDialog(parent), ui_(new Ui::ProgressDialog) {
  ui_->setupUi(this);
}

ProgressDialog::~ProgressDialog() = default;

QProgressBar& ProgressDialog::dialogProgress() { return *ui_->dialogProgress; }

void ProgressDialog::showInFront() {
  quietly_ = false;
  show();
  raise();
}

void ProgressDialog::closeQuietly() {
  quietly_ = true;
  close();
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
  event->accept();
  // The user closing the dialog while the scan runs wants out.
  if (!quietly_) QCoreApplication::quit();
}

void ProgressDialog::reject() { close(); }

void startAnimation(QProgressBar& bar) { bar.setRange(0, 0); }

void stopAnimation(QProgressBar& bar) {
  bar.setRange(0, 1);
  bar.setValue(1);
}

}  // namespace tavo
