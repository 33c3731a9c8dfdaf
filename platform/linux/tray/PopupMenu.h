// Our own menu of the status item, where we open it at the icon ourselves (X11 desktops, and the
// XEmbed tray's right click): the menu model rendered into one QMenu that lives as long as the item,
// and the place beside the panel where it opens.
#pragma once

#include "platform/Menu.h"
#include "platform/linux/tray/MenuRendering.h"

#include <QList>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QRect>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform::linux_impl {

class PopupMenu {
public:
    // Told true when the menu is about to show, false when it closed.
    explicit PopupMenu(const std::function<void(bool open)>& menuWatch, BoundKeys boundKeys = {});
    ~PopupMenu();
    PopupMenu(const PopupMenu&) = delete;
    PopupMenu& operator=(const PopupMenu&) = delete;

    QMenu* menu() const { return menu_.get(); }
    void setModel(std::shared_ptr<Menu> model);
    // The same model shown again (what the desktop bound for our shortcuts changed).
    void refresh();
    // Opens the menu beside the icon, on the side of the panel that faces the screen's middle.
    void popUpBeside(const QRect& icon);

private:
    enum class Slot : char { separator, item, submenuBegin, submenuEnd };
    struct BoundAction {
        QAction* action;
        std::shared_ptr<MenuItem> item;
    };
    static std::vector<Slot> shapeOf(const Menu& model);
    static void appendShape(const Menu& model, std::vector<Slot>& shape);
    void refill();
    void clear();
    void fill(QMenu& target, const Menu& model);
    void update(const Menu& model, std::size_t& next);
    void trigger(std::shared_ptr<MenuItem> item);
    void refillLater();

    BoundKeys boundKeys_;
    QObject context_;
    std::unique_ptr<QMenu> menu_;
    std::vector<std::unique_ptr<QMenu>> submenus_;
    std::vector<BoundAction> actions_;
    std::vector<Slot> shape_;
    std::shared_ptr<Menu> model_;
    bool triggering_ = false;
    bool refillQueued_ = false;
};

// Where to open the menu for a click a host reported at `reported`: there, when it lies on a screen
// and, where the pointer's place is known, near it; at the pointer when the host's point is off
// every screen or far from it (mate-panel reports points relative to its own applet); nowhere when
// neither can be trusted. Under XWayland the X pointer stays where it last left an X window, so
// there the pointer is unknown and only the host can tell.
std::optional<QPoint> menuAnchor(QPoint reported, std::optional<QPoint> pointer, const QList<QRect>& screens);

} // namespace platform::linux_impl
