#include "app/progress_dialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QTimer>

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

void ProgressDialog::showProduct(const std::string& name) {
  {
    std::lock_guard lock(productLock_);
    product_ = name;
    if (productQueued_) return;  // the update on its way will show this name
    productQueued_ = true;
  }
  QMetaObject::invokeMethod(this, [this] { updateProduct(); }, Qt::QueuedConnection);
}

// One update at a time is on its way; it waits out the rest of the interval
// since the last change, then shows whatever name is the latest by then.
void ProgressDialog::updateProduct() {
  constexpr qint64 kInterval = 100;  // milliseconds: ten changes a second
  qint64 since = productShown_.isValid() ? productShown_.elapsed() : kInterval;
  if (since < kInterval) {
    QTimer::singleShot(static_cast<int>(kInterval - since), this, [this] { updateProduct(); });
    return;
  }
  QString name;
  {
    std::lock_guard lock(productLock_);
    name = QString::fromStdString(product_);
    productQueued_ = false;
  }
  ui_->product->setText(name);
  productShown_.start();
}

void startAnimation(QProgressBar& bar) { bar.setRange(0, 0); }

void stopAnimation(QProgressBar& bar) {
  bar.setRange(0, 1);
  bar.setValue(1);
}

}  // namespace tavo
