// The menu model: plain data the menu controller builds and the status item renders.
#pragma once

#include "platform/MenuTarget.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class Menu;

enum ControlStateValue : int { ControlStateValueOff = 0, ControlStateValueOn = 1 };

// Modifier masks of key equivalents: bits a menu item carries, which each renderer maps to its
// own keys (MenuRendering.h: Option is Alt, Command is Ctrl).
constexpr uint32_t EventModifierFlagOption = 0x80000;
constexpr uint32_t EventModifierFlagCommand = 0x100000;

class MenuItem {
public:
    MenuItem(std::string title, std::string action, std::string keyEquivalent)
        : title_(std::move(title)), action_(std::move(action)), keyEquivalent_(std::move(keyEquivalent))
    {
    }
    static std::shared_ptr<MenuItem> separatorItem()
    {
        auto item = std::make_shared<MenuItem>("", "", "");
        item->separator_ = true;
        return item;
    }

    const std::string& title() const { return title_; }
    // Selector name; empty for none.
    const std::string& action() const { return action_; }
    // Empty target: the action goes to the application object.
    std::weak_ptr<MenuTarget> target() const { return target_; }
    void setTarget(std::weak_ptr<MenuTarget> target)
    {
        target_ = std::move(target);
        hasTarget_ = true;
    }
    // Whether a target was set, even one that is gone since.
    bool hasTarget() const { return hasTarget_; }
    long tag() const { return tag_; }
    void setTag(long tag) { tag_ = tag; }
    int state() const { return state_; }
    void setState(int state)
    {
        state_ = state;
        hasState_ = true;
    }
    // Whether the item's state was ever set: such an item switches on and off, and keeps room for
    // its check mark while off.
    bool hasState() const { return hasState_; }
    const std::string& keyEquivalent() const { return keyEquivalent_; }
    void setKeyEquivalent(std::string key) { keyEquivalent_ = std::move(key); }
    uint32_t keyEquivalentModifierMask() const { return modifierMask_; }
    void setKeyEquivalentModifierMask(uint32_t mask) { modifierMask_ = mask; }
    const std::shared_ptr<Menu>& submenu() const { return submenu_; }
    void setSubmenu(std::shared_ptr<Menu> submenu) { submenu_ = std::move(submenu); }
    bool isSeparatorItem() const { return separator_; }

private:
    std::string title_;
    std::string action_;
    std::string keyEquivalent_;
    std::weak_ptr<MenuTarget> target_;
    long tag_ = 0;
    int state_ = ControlStateValueOff;
    uint32_t modifierMask_ = EventModifierFlagCommand;
    std::shared_ptr<Menu> submenu_;
    bool separator_ = false;
    bool hasTarget_ = false;
    bool hasState_ = false;
};

class Menu {
public:
    void addItem(std::shared_ptr<MenuItem> item) { items_.push_back(std::move(item)); }
    const std::vector<std::shared_ptr<MenuItem>>& items() const { return items_; }

private:
    std::vector<std::shared_ptr<MenuItem>> items_;
};

// Sends the item's action to its target, or to the application when it has none.
// Used by renderers and tests alike, so both dispatch the same way.
bool sendAction(const MenuItem& item);

} // namespace platform
