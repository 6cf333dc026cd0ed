#pragma once
// A modal alert with two buttons, as the controller asks for confirmation.

#include <string>

namespace tavo {

class Alert {
 public:
  /// The answer for the first button added, and for the second.
  static constexpr int kFirstButtonReturn = 1000;
  static constexpr int kSecondButtonReturn = 1001;

  virtual ~Alert() = default;
  /// Shows the alert with `firstButton` and `secondButton`, in that order,
  /// and blocks until the user answers with one of them.
  virtual int runModal(const std::string& messageText, const std::string& informativeText,
                       const std::string& firstButton, const std::string& secondButton) = 0;
  /// Shows a message with one button to close it, and blocks until it is closed.
  virtual void showInformation(const std::string& messageText,
                               const std::string& informativeText) = 0;
};

}  // namespace tavo
