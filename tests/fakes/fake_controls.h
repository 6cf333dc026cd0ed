#pragma once
// Controls, main-thread hand-over, relay and process information that record
// what was done to them, in order, with the thread it was done on.

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/controls.h"
#include "platform/main_thread.h"
#include "platform/process_info.h"

namespace tavo::testing {

/// One shared journal of the effects on every fake.
class Journal {
 public:
  void add(std::string event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back({std::move(event), std::this_thread::get_id()});
  }
  std::vector<std::string> events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& e : events_) out.push_back(e.text);
    return out;
  }
  bool allOn(std::thread::id thread) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& e : events_)
      if (e.thread != thread) return false;
    return true;
  }

 private:
  struct Event {
    std::string text;
    std::thread::id thread;
  };
  mutable std::mutex mutex_;
  std::vector<Event> events_;
};

/// Selects the first item when one is added to an empty menu, and the first
/// remaining item when the selected one goes.
class FakePopUpButton final : public PopUpButton {
 public:
  explicit FakePopUpButton(Journal& journal) : journal_(journal) {}
  void addItem(const std::string& title, long tag) override {
    journal_.add("item " + std::to_string(tag) + " " + title);
    items_.push_back({title, tag});
    if (selected_ == -1) selected_ = tag;
  }
  void removeItemWithTag(long tag) override {
    std::erase_if(items_, [&](const Item& item) { return item.tag == tag; });
    if (selected_ == tag) selected_ = items_.empty() ? -1 : items_.front().tag;
  }
  long selectedTag() const override { return selected_; }
  void select(long tag) { selected_ = tag; }
  std::size_t itemCount() const { return items_.size(); }

 private:
  struct Item {
    std::string title;
    long tag;
  };
  Journal& journal_;
  std::vector<Item> items_;
  long selected_ = -1;
};

class FakeTextView final : public TextView {
 public:
  explicit FakeTextView(Journal& journal) : journal_(journal) {}
  void setString(const std::string& text) override {
    journal_.add("text");
    text_ = text;
  }
  const std::string& text() const { return text_; }

 private:
  Journal& journal_;
  std::string text_;
};

class FakeButton final : public Button {
 public:
  explicit FakeButton(Journal& journal) : journal_(journal) {}
  void setEnabled(bool enabled) override {
    journal_.add(enabled ? "enabled" : "disabled");
    enabled_ = enabled;
  }
  bool enabled() const { return enabled_; }

 private:
  Journal& journal_;
  bool enabled_ = false;
};

/// Blocks handed over from other threads wait in a queue until the thread
/// that plays the main thread pumps them; that thread's own blocks run at once.
class QueueMainThread final : public MainThread {
 public:
  QueueMainThread() : mainId_(std::this_thread::get_id()) {}

  void runAndWait(const std::function<void()>& block) override {
    if (std::this_thread::get_id() == mainId_) {
      block();
      return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    std::size_t ticket = ++posted_;
    queue_.push_back(block);
    changed_.notify_all();
    changed_.wait(lock, [&] { return done_ >= ticket; });
  }

  /// Runs the next handed-over block, waiting for one to arrive.
  void pumpOne() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !queue_.empty(); });
    std::function<void()> block = std::move(queue_.front());
    queue_.erase(queue_.begin());
    lock.unlock();
    block();
    lock.lock();
    ++done_;
    ++handOvers_;
    changed_.notify_all();
  }

  std::size_t handOvers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return handOvers_;
  }

 private:
  std::thread::id mainId_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::function<void()>> queue_;
  std::size_t posted_ = 0;
  std::size_t done_ = 0;
  std::size_t handOvers_ = 0;
};

class FakeProcessInfo final : public ProcessInfo {
 public:
  explicit FakeProcessInfo(std::string version = "Test 1.0") : version_(std::move(version)) {}
  int operatingSystem() const override { return 7; }
  std::string operatingSystemName() const override { return "TestOS"; }
  std::string operatingSystemVersionString() const override { return version_; }

 private:
  std::string version_;
};

}  // namespace tavo::testing
