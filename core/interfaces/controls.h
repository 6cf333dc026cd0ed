#pragma once
// The controls of the main window as the controller sees them. The window
// system implements them; the controller never owns one.

#include <string>

namespace tavo {

/// The product chooser: a menu of titled items, each with a tag.
class PopUpButton {
 public:
  virtual ~PopUpButton() = default;
  /// Appends an item at the end of the menu.
  virtual void addItem(const std::string& title, long tag) = 0;
  /// Removes the item with `tag`; nothing happens when there is none.
  virtual void removeItemWithTag(long tag) = 0;
  /// Empties the menu.
  virtual void removeAllItems() = 0;
  /// The selected item's tag, or -1 when nothing is selected.
  virtual long selectedTag() const = 0;
};

/// The summary text.
class TextView {
 public:
  virtual ~TextView() = default;
  /// Replaces the whole text.
  virtual void setString(const std::string& text) = 0;
};

/// One line of text under the summary; an empty text hides it.
class TextLine {
 public:
  virtual ~TextLine() = default;
  virtual void setText(const std::string& text) = 0;
};

/// A menu item whose title changes and that can be made usable or not.
class MenuItem {
 public:
  virtual ~MenuItem() = default;
  virtual void setTitle(const std::string& title) = 0;
  virtual void setEnabled(bool enabled) = 0;
};

/// A push button that can be made usable or not.
class Button {
 public:
  virtual ~Button() = default;
  virtual void setEnabled(bool enabled) = 0;
};

}  // namespace tavo
