#pragma once
// The main menu as AppKit is told it: for every item its action's selector, whom the action
// goes to, its key equivalent and the modifier mask. The Objective-C++ side only turns each
// entry into an NSMenuItem.
#include <optional>
#include <string>
#include <vector>

#include "ports/application.hpp"

namespace scribbet::mac {

// NSEventModifierFlagCommand.
constexpr unsigned long commandKeyMask = 1UL << 20;

// Hide and Quit go to the application object itself, so that they work whatever has the
// focus, with no window at all; the edit actions go to the first responder (target nil),
// the view with the keyboard focus: the log view or the drawing page.
enum class MenuTarget { application, firstResponder };

struct MenuCommand {
    std::string selector; // "terminate:"
    MenuTarget target = MenuTarget::firstResponder;
    friend bool operator==(const MenuCommand&, const MenuCommand&) = default;
};

// None for a value outside the enumeration.
std::optional<MenuCommand> menuCommand(MenuAction action);

struct MenuItemPlan {
    bool separator = false;
    std::string title;
    std::optional<MenuCommand> command; // none: an item that does nothing (AppKit greys it)
    std::string key;                    // one character or empty
    unsigned long modifiers = 0;        // commandKeyMask when there is a key
    friend bool operator==(const MenuItemPlan&, const MenuItemPlan&) = default;
};

struct MenuPlan {
    std::string itemTitle; // the menu bar item's title
    std::string title;     // the submenu's own title
    std::vector<MenuItemPlan> items;
    friend bool operator==(const MenuPlan&, const MenuPlan&) = default;
};

// The key equivalent AppKit should get for a Command-key shortcut: AppKit reads an upper-case
// letter as Shift plus the letter, so letters are lower-cased; anything but exactly one
// character is no key at all, as NSMenuItem takes a single character.
std::string keyEquivalent(const std::string& key);

std::vector<MenuPlan> menuPlan(const std::vector<Menu>& menus);

} // namespace scribbet::mac
