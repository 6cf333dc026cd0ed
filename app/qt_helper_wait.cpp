#include "app/qt_helper_wait.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <climits>

#include "safety/sweeper_lines.h"

namespace tavo {

namespace {

// Steps of the bar within one item, so that a long copy moves it.
std::size_t stepsPerItem(std::size_t items) { return items <= INT_MAX / 1000 ? 1000 : 1; }

int barValue(std::size_t steps) { return static_cast<int>(std::min<std::size_t>(steps, INT_MAX)); }

}  // namespace

QtHelperWait::~QtHelperWait() { delete dialog_; }

void QtHelperWait::begin(std::size_t items) {
  items_ = items;
  done_ = 0;
  itemPart_ = 0;
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
  std::optional<sweeperlines::Line> copying = sweeperlines::decode(line);
  if (copying && copying->kind == sweeperlines::Kind::Copying) {
    // Progress within the item under way, not an item of its own.
    itemPart_ = copying->total ? std::min(1.0, double(copying->done) / double(copying->total)) : 0;
    lastLine_ = QStringLiteral("Copying %1: %2%")
                    .arg(QString::fromStdString(sweeperlines::escapeText(copying->path)))
                    .arg(static_cast<int>(itemPart_ * 100));
  } else {
    ++done_;
    itemPart_ = 0;
    lastLine_ = QString::fromStdString(line);
  }
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
  // Reaching the last item is not the end of the run: only end() closes it,
  // and a full bar stays full.
  dialog_->setAutoClose(false);
  dialog_->setAutoReset(false);
  dialog_->setRange(0, barValue(items_ * stepsPerItem(items_)));  // 0..0: indeterminate
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
  if (!items_) return;
  const std::size_t steps = stepsPerItem(items_);
  std::size_t value = std::min(done_, items_) * steps;
  // A copy at its last byte is not yet moved: the item's own line fills it.
  if (done_ < items_)
    value += std::min(steps - 1, static_cast<std::size_t>(itemPart_ * double(steps)));
  dialog_->setValue(barValue(value));
}

}  // namespace tavo
