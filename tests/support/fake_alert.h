#pragma once
// An alert answered on script, remembering what it was shown.

#include <deque>
#include <string>
#include <vector>

#include "core/interfaces/alert.h"

namespace tavo::testing {

class FakeAlert final : public Alert {
 public:
  /// Answers in order; once used up, the first button ("Remove").
  std::deque<int> answers;
  /// One entry per alert shown: message, informative text and both buttons.
  std::vector<std::vector<std::string>> shown;
  /// One entry per information shown: message and informative text.
  std::vector<std::vector<std::string>> informed;

  void showInformation(const std::string& messageText,
                       const std::string& informativeText) override {
    informed.push_back({messageText, informativeText});
  }

  int runModal(const std::string& messageText, const std::string& informativeText,
               const std::string& firstButton, const std::string& secondButton) override {
    shown.push_back({messageText, informativeText, firstButton, secondButton});
    if (answers.empty()) return kFirstButtonReturn;
    int answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

}  // namespace tavo::testing
