// The status item in the desktop's tray, its button (image, title, font) and its menu.
#pragma once

#include "platform/Graphics.h"
#include "platform/Menu.h"
#include "platform/Service.h"

#include <memory>
#include <string>

namespace platform {

constexpr double VariableStatusItemLength = -1.0;

class StatusButton {
public:
    virtual ~StatusButton() = default;
    virtual void setImage(std::shared_ptr<Image> image) = 0;
    virtual void setTitle(const std::string& title) = 0;
    virtual void setFont(const Font& font) = 0;
};

class StatusItem {
public:
    virtual ~StatusItem() = default;
    // Possibly null.
    virtual StatusButton* button() = 0;
    // The menu last set is the one shown when the item is clicked.
    virtual void setMenu(std::shared_ptr<Menu> menu) = 0;
};

class StatusBar : public Service<StatusBar> {
public:
    static StatusBar& systemStatusBar() { return shared(); }
    virtual ~StatusBar() = default;
    virtual std::shared_ptr<StatusItem> statusItemWithLength(double length) = 0;
};

} // namespace platform
