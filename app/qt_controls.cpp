#include "app/qt_controls.h"

#include <QCoreApplication>
#include <QPushButton>

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

void QtTextLine::setText(const std::string& text) {
  QString shown = qs(text).toHtmlEscaped();
  if (!linkText_.isEmpty() && !text.empty())
    shown += QStringLiteral(" <a href=\"#\">%1</a>").arg(linkText_.toHtmlEscaped());
  label_.setText(shown);
  label_.setVisible(!text.empty());
}

void QtMenuItem::setTitle(const std::string& title) {
  action_.setText(qs(title).replace(QLatin1Char('&'), QStringLiteral("&&")));
}

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

void QtAlert::showInformation(const std::string& messageText, const std::string& informativeText) {
  QMessageBox box(parent_);
  box.setIcon(QMessageBox::Information);
  box.setText(qs(messageText));
  box.setInformativeText(qs(informativeText));
  box.addButton(QMessageBox::Ok);
  box.exec();
}

}  // namespace tavo
