// The status item on QSystemTrayIcon: the drawn image as icon, the title as tooltip, and the
// menu model rendered into one QMenu that lives as long as the item. The icon appears once a
// tray host is there, also when the host starts after us.
#include "platform/linux/SniStatusBar.h"
#include "platform/linux/HotKeyFacade.h"
#include "platform/linux/MenuRendering.h"
#include "platform/linux/QtGraphics.h"
#include "platform/linux/TrayHost.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform::linux_impl {

namespace {

class QtStatusItem final : public StatusItem, public StatusButton {
public:
    explicit QtStatusItem(const MenuWatch& menuWatch) : menu_(std::make_unique<QMenu>())
    {
        // Hosts tell the menu's opening (dbusmenu AboutToShow, or its "opened" event) and closing.
        if (menuWatch) {
            QObject::connect(menu_.get(), &QMenu::aboutToShow, &context_, [menuWatch] { menuWatch(true); });
            QObject::connect(menu_.get(), &QMenu::aboutToHide, &context_, [menuWatch] { menuWatch(false); });
        }
        HostClickPosition::install();
        hostWatcher_ = std::make_unique<TrayHostWatcher>([this] {
            hostAvailable_ = true;
            createTrayIcon();
        });
        // The desktop may bind other keys than we asked for, and tell us late.
        QObject::connect(&HotKeyBindings::instance(), &HotKeyBindings::changed, &context_, [this] {
            if (!refillQueued_)
                refillLater();
        });
    }
    ~QtStatusItem() override
    {
        hostWatcher_.reset();
        tray_.reset();
        clearMenu();
    }

    StatusButton* button() override { return this; }

    void setMenu(std::shared_ptr<Menu> menu) override
    {
        model_ = std::move(menu);
        // An action must not be deleted while it is being triggered: the refill waits until
        // the action has finished. The model items stay alive as long as their actions.
        if (triggering_) {
            if (!refillQueued_)
                refillLater();
            return;
        }
        refill();
    }

    void setImage(std::shared_ptr<Image> image) override
    {
        image_ = std::move(image);
        // Every menu rebuild sets the image again, mostly the same one: it is rendered at six
        // sizes with a colour font, and hosts refetch the pixmaps on each change, so an image
        // painted before costs a key lookup and nothing reaches the bus.
        const auto* paintable = dynamic_cast<const PaintableImage*>(image_.get());
        const QString key = paintable ? paintable->contentKey() : QString();
        if (key == iconKey_)
            return;
        iconKey_ = key;
        std::vector<QImage> renderings = renderingsFor(paintable);
        if (renderings == renderings_)
            return;
        renderings_ = std::move(renderings);
        icon_ = QIcon();
        for (const QImage& rendering : renderings_)
            icon_.addPixmap(QPixmap::fromImage(rendering));
        if (tray_)
            tray_->setIcon(icon_);
        else
            createTrayIcon();
    }

    void setTitle(const std::string& title) override
    {
        const QString toolTip = toolTipForTitle(title);
        if (toolTip == toolTip_)
            return;
        toolTip_ = toolTip;
        if (tray_)
            tray_->setToolTip(toolTip_);
    }

    // A StatusNotifier item has no text label, so the title font has nothing to style.
    void setFont(const Font& font) override { font_ = font; }

private:
    // The image at every tray icon size; none for an image we cannot paint.
    static std::vector<QImage> renderingsFor(const PaintableImage* paintable)
    {
        std::vector<QImage> renderings;
        if (paintable) {
            for (int side : kTrayIconSides)
                renderings.push_back(paintable->renderSquare(side));
        }
        return renderings;
    }

    // Made once a host is there and the first image has been drawn: an item shown without an
    // icon is an empty slot in the panel (and Qt warns of it).
    void createTrayIcon()
    {
        if (tray_ || !hostAvailable_ || icon_.isNull())
            return;
        tray_ = std::make_unique<QSystemTrayIcon>();
        tray_->setIcon(icon_);
        tray_->setToolTip(toolTip_);
        // Attached once: on Qt 6.4 replacing the context menu leaves the D-Bus menu exporter
        // pointing at freed memory.
        tray_->setContextMenu(menu_.get());
        QObject::connect(tray_.get(), &QSystemTrayIcon::activated, &context_,
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             // A click on the icon opens the menu, as a menu bar item does.
                             if (reason == QSystemTrayIcon::Trigger && !menu_->isVisible())
                                 popUpMenu();
                         });
        tray_->show();
    }

    // Opens the menu at the icon, where we know where that is: an XEmbed icon knows its own
    // place, and a StatusNotifier host tells where it was clicked. A Wayland client knows no
    // global positions, and a menu without a parent window becomes a window of its own there;
    // the host shows the menu we export itself. Without a place, the X pointer is on the icon
    // just clicked on an X11 desktop, but under XWayland it stays where it last left an X window.
    void popUpMenu()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            return;
        QRect icon = tray_->geometry();
        if (!icon.isValid()) {
            if (const auto clicked = HostClickPosition::recent())
                icon = QRect(*clicked, QSize(1, 1));
        }
        if (icon.isValid()) {
            // Beside the panel, which lies outside the screen's work area where the desktop says.
            const QScreen* screen = QGuiApplication::screenAt(icon.center());
            const QRect area = screen ? screen->availableGeometry() : icon;
            if (screen && icon.center().y() > screen->geometry().center().y())
                menu_->popup(QPoint(icon.left(), std::min(icon.top(), area.bottom() + 1) - menu_->sizeHint().height()));
            else
                menu_->popup(QPoint(icon.left(), std::max(icon.bottom() + 1, area.top())));
        } else if (!qEnvironmentVariableIsSet("WAYLAND_DISPLAY")) {
            menu_->popup(QCursor::pos());
        }
    }

    // A new model of the same shape as the shown one (the usual case: a channel starts or
    // stops) updates the actions in place, so only what changed goes to the desktop; the
    // D-Bus menu sends its whole layout again after every inserted or removed action.
    void refill()
    {
        if (model_ && !actions_.empty() && shapeOf(*model_) == shape_) {
            std::size_t next = 0;
            update(*model_, next);
            return;
        }
        clearMenu();
        if (model_) {
            shape_ = shapeOf(*model_);
            fill(*menu_, *model_);
        }
    }

    void clearMenu()
    {
        menu_->clear();
        // clear() leaves the submenus made here alive.
        submenus_.clear();
        actions_.clear();
        shape_.clear();
    }

    // Separators, plain items and submenus in the order the menu shows them.
    enum class Slot : char { separator, item, submenuBegin, submenuEnd };
    static std::vector<Slot> shapeOf(const Menu& model)
    {
        std::vector<Slot> shape;
        appendShape(model, shape);
        return shape;
    }
    static void appendShape(const Menu& model, std::vector<Slot>& shape)
    {
        for (const auto& item : model.items()) {
            if (item->isSeparatorItem()) {
                shape.push_back(Slot::separator);
            } else if (item->submenu()) {
                shape.push_back(Slot::submenuBegin);
                appendShape(*item->submenu(), shape);
                shape.push_back(Slot::submenuEnd);
            } else {
                shape.push_back(Slot::item);
            }
        }
    }

    // Every action the model's items appear as, in the order fill() makes them, with the item
    // each one now stands for (separators are not kept).
    struct BoundAction {
        QAction* action;
        std::shared_ptr<MenuItem> item;
    };

    void fill(QMenu& target, const Menu& model)
    {
        for (const auto& item : model.items()) {
            if (item->isSeparatorItem()) {
                target.addSeparator();
                continue;
            }
            // Kept in the order the menu shows them, a submenu's own action before its items.
            const std::size_t index = actions_.size();
            actions_.push_back(BoundAction{nullptr, item});
            QAction* action = nullptr;
            if (item->submenu()) {
                // Filled before it is attached, so the desktop hears of it once.
                auto submenu = std::make_unique<QMenu>(actionText(item->title()));
                fill(*submenu, *item->submenu());
                action = target.addMenu(submenu.get());
                submenus_.push_back(std::move(submenu));
            } else {
                action = target.addAction(actionText(item->title()));
                // The action reads the item it stands for when triggered, as that changes
                // with each model of the same shape.
                QObject::connect(action, &QAction::triggered, &context_, [this, index] {
                    if (index < actions_.size() && !actions_[index].item->action().empty())
                        trigger(actions_[index].item);
                });
            }
            actions_[index].action = action;
            // Shortcuts are shown beside the title only: the global hot keys do the work, so
            // the menu must not take these keys from other windows.
            action->setShortcutContext(Qt::WidgetShortcut);
            action->setShortcutVisibleInContextMenu(true);
            apply(*action, *item);
        }
    }

    void update(const Menu& model, std::size_t& next)
    {
        for (const auto& item : model.items()) {
            if (item->isSeparatorItem())
                continue;
            BoundAction& bound = actions_[next++];
            bound.item = item;
            apply(*bound.action, *item);
            if (item->submenu())
                update(*item->submenu(), next);
        }
    }

    // Title, enabled state, check mark and shortcut of the item. Qt signals a change only when
    // a value differs, so applying an unchanged item costs the desktop nothing.
    static void apply(QAction& action, const MenuItem& item)
    {
        const ShownItem shown = shownItem(item);
        action.setText(shown.text);
        action.setEnabled(isEnabledItem(item));
        const bool toggle = isToggleItem(item);
        action.setCheckable(toggle);
        if (toggle)
            action.setChecked(item.state() == ControlStateValueOn);
        action.setShortcut(shown.shortcut);
    }

    // By value: the item must outlive its action, whatever the action does to the menu.
    void trigger(std::shared_ptr<MenuItem> item) // NOLINT(performance-unnecessary-value-param)
    {
        const bool nested = triggering_;
        triggering_ = true;
        sendAction(*item);
        triggering_ = nested;
        // A checkable QAction flips its own check mark when triggered, yet the model decides
        // what shows: put the model's marks back unless the action queued a rebuild already.
        if (isToggleItem(*item) && !refillQueued_)
            refillLater();
    }

    void refillLater()
    {
        refillQueued_ = true;
        QMetaObject::invokeMethod(
            &context_,
            [this] {
                refillQueued_ = false;
                refill();
            },
            Qt::QueuedConnection);
    }

    QObject context_;
    std::unique_ptr<QMenu> menu_;
    std::vector<std::unique_ptr<QMenu>> submenus_;
    std::vector<BoundAction> actions_;
    std::vector<Slot> shape_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<TrayHostWatcher> hostWatcher_;
    std::shared_ptr<Menu> model_;
    std::shared_ptr<Image> image_;
    QString iconKey_;
    std::vector<QImage> renderings_;
    QIcon icon_;
    QString toolTip_ = toolTipForTitle("");
    Font font_;
    bool hostAvailable_ = false;
    bool triggering_ = false;
    bool refillQueued_ = false;
};

class QtStatusBar final : public StatusBar {
public:
    explicit QtStatusBar(MenuWatch menuWatch) : menuWatch_(std::move(menuWatch)) {}
    std::shared_ptr<StatusItem> statusItemWithLength(double) override
    {
        return std::make_shared<QtStatusItem>(menuWatch_);
    }

private:
    MenuWatch menuWatch_;
};

} // namespace

std::shared_ptr<StatusBar> makeStatusBar(MenuWatch menuWatch)
{
    return std::make_shared<QtStatusBar>(std::move(menuWatch));
}

} // namespace platform::linux_impl
