#include "app/qt_controls.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QThread>

#include <condition_variable>
#include <mutex>

namespace tavo {
namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

void QtPopUpButton::addItem(const std::string& title, long tag) {
  box_.addItem(qs(title), QVariant::fromValue<qlonglong>(tag));
}

void QtPopUpButton::removeItemWithTag(long tag) {
  int index = box_.findData(QVariant::fromValue<qlonglong>(tag));
  if (index >= 0) box_.removeItem(index);
}

long QtPopUpButton::selectedTag() const {
  if (box_.currentIndex() < 0) return -1;
  return static_cast<long>(box_.currentData().toLongLong());
}

void QtTextView::setString(const std::string& text) { edit_.setPlainText(qs(text)); }

int QtAlert::runModal(const std::string& messageText, const std::string& informativeText,
                      const std::string& firstButton, const std::string& secondButton) {
  QMessageBox box(parent_);
  box.setIcon(QMessageBox::Warning);
  box.setText(qs(messageText));
  box.setInformativeText(qs(informativeText));
  QPushButton* first = box.addButton(qs(firstButton), QMessageBox::AcceptRole);
  QPushButton* second = box.addButton(qs(secondButton), QMessageBox::RejectRole);
  box.setDefaultButton(first);
  box.setEscapeButton(second);
  box.exec();
  // Only the first button removes; a dismissed alert counts as the second.
  return box.clickedButton() == first ? kFirstButtonReturn : kSecondButtonReturn;
}

void QtMainThread::runAndWait(const std::function<void()>& block) {
  if (QThread::currentThread() == context_.thread()) {
    block();
    return;
  }
  struct Handoff {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
  };
  auto handoff = std::make_shared<Handoff>();
  auto stopped = stopped_;
  // The block is copied: a worker let go by stop() no longer owns it.
  QMetaObject::invokeMethod(
      &context_,
      [handoff, stopped, block] {
        if (!*stopped) block();
        std::lock_guard lock(handoff->mutex);
        handoff->done = true;
        handoff->cv.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(handoff->mutex);
  while (!handoff->done && !*stopped)
    handoff->cv.wait_for(lock, std::chrono::milliseconds(50));
}

void QtMainThread::stop() { *stopped_ = true; }

}  // namespace tavo
