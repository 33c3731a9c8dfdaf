// The QMenu of the status item: filled from the model, updated in place when a new model has the
// same shape, never deleting an action while it is being triggered; and where it opens.
#include "platform/linux/tray/PopupMenu.h"

#include "platform/linux/tray/MenuRendering.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace platform::linux_impl {

namespace {

// A host's point this far from the pointer is not where the user clicked.
constexpr int kTrustedDistance = 96;

// Title, enabled state, check mark and shortcut of the item. Qt signals a change only when a value
// differs, so applying an unchanged item costs nothing.
void apply(QAction& action, const MenuItem& item, const BoundKeys& boundKeys)
{
    const ShownItem shown = shownItem(item, boundKeys);
    action.setText(actionText(shown.text));
    action.setEnabled(isEnabledItem(item));
    const bool toggle = isToggleItem(item);
    action.setCheckable(toggle);
    if (toggle)
        action.setChecked(item.state() == ControlStateValueOn);
    action.setShortcut(shown.shortcut);
}

} // namespace

PopupMenu::PopupMenu(const std::function<void(bool)>& menuWatch, BoundKeys boundKeys)
    : boundKeys_(std::move(boundKeys)), menu_(std::make_unique<QMenu>())
{
    if (menuWatch) {
        QObject::connect(menu_.get(), &QMenu::aboutToShow, &context_, [menuWatch] { menuWatch(true); });
        QObject::connect(menu_.get(), &QMenu::aboutToHide, &context_, [menuWatch] { menuWatch(false); });
    }
}

PopupMenu::~PopupMenu() { clear(); }

void PopupMenu::setModel(std::shared_ptr<Menu> model)
{
    model_ = std::move(model);
    // An action must not be deleted while it is being triggered: the refill waits until the
    // action has finished. The model items stay alive as long as their actions.
    if (triggering_) {
        if (!refillQueued_)
            refillLater();
        return;
    }
    refill();
}

void PopupMenu::refresh()
{
    if (!refillQueued_)
        refillLater();
}

void PopupMenu::popUpBeside(const QRect& icon)
{
    // Beside the panel, which lies outside the screen's work area where the desktop says.
    const QScreen* screen = QGuiApplication::screenAt(icon.center());
    const QRect area = screen ? screen->availableGeometry() : icon;
    if (screen && icon.center().y() > screen->geometry().center().y())
        menu_->popup(QPoint(icon.left(), std::min(icon.top(), area.bottom() + 1) - menu_->sizeHint().height()));
    else
        menu_->popup(QPoint(icon.left(), std::max(icon.bottom() + 1, area.top())));
}

// A new model of the same shape as the shown one (the usual case: a channel starts or stops)
// updates the actions in place, so only what changed goes to the screen.
void PopupMenu::refill()
{
    if (model_ && !actions_.empty() && shapeOf(*model_) == shape_) {
        std::size_t next = 0;
        update(*model_, next);
        return;
    }
    clear();
    if (model_) {
        shape_ = shapeOf(*model_);
        fill(*menu_, *model_);
    }
}

void PopupMenu::clear()
{
    menu_->clear();
    // clear() leaves the submenus made here alive.
    submenus_.clear();
    actions_.clear();
    shape_.clear();
}

// Separators, plain items and submenus in the order the menu shows them.
std::vector<PopupMenu::Slot> PopupMenu::shapeOf(const Menu& model)
{
    std::vector<Slot> shape;
    appendShape(model, shape);
    return shape;
}

void PopupMenu::appendShape(const Menu& model, std::vector<Slot>& shape)
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

void PopupMenu::fill(QMenu& target, const Menu& model)
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
            auto submenu = std::make_unique<QMenu>(actionText(QString::fromStdString(item->title())));
            fill(*submenu, *item->submenu());
            action = target.addMenu(submenu.get());
            submenus_.push_back(std::move(submenu));
        } else {
            action = target.addAction(actionText(QString::fromStdString(item->title())));
            // The action reads the item it stands for when triggered, as that changes with each
            // model of the same shape.
            QObject::connect(action, &QAction::triggered, &context_, [this, index] {
                if (index < actions_.size() && !actions_[index].item->action().empty())
                    trigger(actions_[index].item);
            });
        }
        actions_[index].action = action;
        // Shortcuts are shown beside the title only: the global hot keys do the work, so the
        // menu must not take these keys from other windows.
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setShortcutVisibleInContextMenu(true);
        apply(*action, *item, boundKeys_);
    }
}

void PopupMenu::update(const Menu& model, std::size_t& next)
{
    for (const auto& item : model.items()) {
        if (item->isSeparatorItem())
            continue;
        BoundAction& bound = actions_[next++];
        bound.item = item;
        apply(*bound.action, *item, boundKeys_);
        if (item->submenu())
            update(*item->submenu(), next);
    }
}

// By value: the item must outlive its action, whatever the action does to the menu.
void PopupMenu::trigger(std::shared_ptr<MenuItem> item) // NOLINT(performance-unnecessary-value-param)
{
    const bool nested = triggering_;
    triggering_ = true;
    sendAction(*item);
    triggering_ = nested;
    // A checkable QAction flips its own check mark when triggered, yet the model decides what
    // shows: put the model's marks back unless the action queued a refill already.
    if (isToggleItem(*item) && !refillQueued_)
        refillLater();
}

void PopupMenu::refillLater()
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

std::optional<QPoint> menuAnchor(QPoint reported, std::optional<QPoint> pointer, const QList<QRect>& screens)
{
    const auto onScreen = [&](QPoint point) {
        return std::any_of(screens.begin(), screens.end(), [&](const QRect& screen) { return screen.contains(point); });
    };
    const bool plausible = onScreen(reported);
    if (!pointer)
        return plausible ? std::optional(reported) : std::nullopt;
    // In 64 bits: the host's numbers may lie anywhere in int's range.
    const qint64 dx = qint64(reported.x()) - pointer->x(), dy = qint64(reported.y()) - pointer->y();
    if (plausible && dx * dx + dy * dy <= qint64(kTrustedDistance) * kTrustedDistance)
        return reported;
    return onScreen(*pointer) ? pointer : std::nullopt;
}

} // namespace platform::linux_impl
