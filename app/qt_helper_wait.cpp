#include "app/qt_helper_wait.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

namespace tavo {

QtHelperWait::~QtHelperWait() { delete dialog_; }

void QtHelperWait::begin(std::size_t items) {
  items_ = items;
  done_ = 0;
  lastLine_.clear();
  running_.start();
}

void QtHelperWait::waitReadable(int fd, std::chrono::milliseconds timeout) {
  showIfLong();
  QEventLoop loop;
  QSocketNotifier readable(fd, QSocketNotifier::Read);
  QObject::connect(&readable, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
  QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
  if (!dialog_ && running_.isValid() && running_.elapsed() < kShowAfterMs)
    QTimer::singleShot(kShowAfterMs - static_cast<int>(running_.elapsed()), &loop,
                       [this] { showIfLong(); });
  // Drawing, timers and other sockets go on; clicks and keys wait, so that
  // nothing else can be started while sweeper runs.
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void QtHelperWait::reported(const std::string& line) {
  ++done_;
  lastLine_ = QString::fromStdString(line);
  if (dialog_) updateDialog();
  showIfLong();
}

void QtHelperWait::end() {
  delete dialog_;
  running_.invalidate();
}

void QtHelperWait::showIfLong() {
  if (dialog_ || !running_.isValid() || running_.elapsed() < kShowAfterMs) return;
  dialog_ = new QProgressDialog(&window_);
  dialog_->setWindowTitle(QStringLiteral("Removing"));
  dialog_->setCancelButton(nullptr);  // a move half done is no state to leave
  dialog_->setWindowModality(Qt::WindowModal);
  dialog_->setMinimumDuration(0);
  dialog_->setRange(0, static_cast<int>(items_));  // 0..0: indeterminate
  updateDialog();
  dialog_->show();
}

void QtHelperWait::updateDialog() {
  QString text = items_ ? QStringLiteral("Moving %1 of %2 to the Trash")
                              .arg(std::min(done_ + 1, items_))
                              .arg(items_)
                        : QStringLiteral("Moving to the Trash");
  if (!lastLine_.isEmpty()) text += QStringLiteral("\n") + lastLine_;
  dialog_->setLabelText(text);
  if (items_) dialog_->setValue(static_cast<int>(std::min(done_, items_)));
}

}  // namespace tavo
