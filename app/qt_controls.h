#pragma once
// The controls the controller drives, over Qt widgets.

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include "core/interfaces/alert.h"
#include "core/interfaces/controls.h"

namespace tavo {

/// The product chooser: a QComboBox whose items hold their tag as data.
class QtPopUpButton final : public PopUpButton {
 public:
  explicit QtPopUpButton(QComboBox& box) : box_(box) {}
  void addItem(const std::string& title, long tag) override;
  void removeItemWithTag(long tag) override;
  void removeAllItems() override { box_.clear(); }
  long selectedTag() const override;

 private:
  QComboBox& box_;
};

class QtTextView final : public TextView {
 public:
  explicit QtTextView(QPlainTextEdit& edit) : edit_(edit) {}
  void setString(const std::string& text) override;

 private:
  QPlainTextEdit& edit_;
};

/// A label under the summary, hidden while its text is empty. With a link
/// text, the line ends in that link, which the window connects.
class QtTextLine final : public TextLine {
 public:
  QtTextLine(QLabel& label, QString linkText = {}) : label_(label), linkText_(std::move(linkText)) {}
  void setText(const std::string& text) override;

 private:
  QLabel& label_;
  QString linkText_;
};

/// A menu item over a QAction; "&" in a title shows as itself.
class QtMenuItem final : public MenuItem {
 public:
  explicit QtMenuItem(QAction& action) : action_(action) {}
  void setTitle(const std::string& title) override;
  void setEnabled(bool enabled) override { action_.setEnabled(enabled); }

 private:
  QAction& action_;
};

class QtButton final : public Button {
 public:
  explicit QtButton(QPushButton& button) : button_(button) {}
  void setEnabled(bool enabled) override { button_.setEnabled(enabled); }

 private:
  QPushButton& button_;
};

/// A warning QMessageBox with the two buttons in the order given.
class QtAlert final : public Alert {
 public:
  explicit QtAlert(QWidget* parent) : parent_(parent) {}
  int runModal(const std::string& messageText, const std::string& informativeText,
               const std::string& firstButton, const std::string& secondButton) override;
  void showInformation(const std::string& messageText,
                       const std::string& informativeText) override;

 private:
  QWidget* parent_;
};

}  // namespace tavo
