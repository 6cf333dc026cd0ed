#pragma once
// The controller's controls and main thread in one fake, and its process
// information.

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/interfaces/controls.h"
#include "core/interfaces/main_thread.h"
#include "platform/process_info.h"

namespace tavo::testing {

/// The chooser, summary and remove button, journalling their effects, and a
/// main thread (the creating one) that runs each handed-over block at once; an
/// effect from another thread outside such a block is marked. The chooser
/// selects the first item added to an empty menu, then the first left.
class FakeControls final : public PopUpButton, public TextView, public Button, public MainThread {
 public:
  void addItem(const std::string& title, long tag) override {
    note("item " + std::to_string(tag) + " " + title);
    tags.push_back(tag);
    if (selected == -1) selected = tag;
  }
  void removeItemWithTag(long tag) override {
    std::erase(tags, tag);
    if (selected == tag) selected = tags.empty() ? -1 : tags.front();
  }
  void removeAllItems() override {
    note("cleared");
    tags.clear();
    selected = -1;
  }
  long selectedTag() const override { return selected; }
  void setString(const std::string& s) override {
    note("text");
    text = s;
  }
  void setEnabled(bool on) override {
    note(on ? "enabled" : "disabled");
    enabled = on;
  }
  void runAndWait(const std::function<void()>& block) override {
    ++handOvers;
    inBlock_ = true;
    block();
    inBlock_ = false;
  }
  /// Kept until runPosted(), which the test calls as the event loop would.
  void post(std::function<void()> block) override {
    std::lock_guard<std::mutex> lock(postedMutex_);
    posted_.push_back(std::move(block));
  }
  /// Runs what was posted so far; how many blocks ran.
  std::size_t runPosted() {
    std::vector<std::function<void()>> blocks;
    {
      std::lock_guard<std::mutex> lock(postedMutex_);
      blocks.swap(posted_);
    }
    for (auto& block : blocks) block();
    return blocks.size();
  }
  void note(const std::string& event) {
    bool onMain = inBlock_ || std::this_thread::get_id() == main_;
    events.push_back(onMain ? event : event + " (off main)");
  }

  std::vector<long> tags;
  long selected = -1;
  std::string text;
  bool enabled = false;
  std::vector<std::string> events;
  int handOvers = 0;

 private:
  std::thread::id main_ = std::this_thread::get_id();
  bool inBlock_ = false;
  std::mutex postedMutex_;
  std::vector<std::function<void()>> posted_;
};

/// A line of text that remembers what it shows, and what it showed.
struct FakeTextLine final : TextLine {
  std::string text;
  std::vector<std::string> shown;
  void setText(const std::string& t) override { shown.push_back(text = t); }
};

struct FakeProcessInfo final : ProcessInfo {
  std::string version = "Test 1.0";
  int operatingSystem() const override { return 7; }
  std::string operatingSystemName() const override { return "TestOS"; }
  std::string operatingSystemVersionString() const override { return version; }
};

}  // namespace tavo::testing
