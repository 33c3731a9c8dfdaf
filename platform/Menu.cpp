// Action dispatch of menu items: to the item's target, or to the application when it has none.
#include "platform/Menu.h"

#include "platform/Application.h"

namespace platform {

bool sendAction(const MenuItem& item)
{
    if (item.action().empty())
        return false;
    // A target that is gone swallows the action, as a released receiver would.
    if (!item.hasTarget()) {
        if (!Application::isInstalled())
            return false;
        return Application::sharedApplication().performAction(item.action(), item);
    }
    if (auto target = item.target().lock())
        return target->performAction(item.action(), item);
    return false;
}

} // namespace platform
