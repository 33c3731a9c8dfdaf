// The status bar hands out items that each talk to the tray on their own.
#include "platform/linux/tray/SniStatusBar.h"

#include "platform/linux/hotkeys/HotKeyFacade.h"

#include <QPointer>

namespace platform::linux_impl {

namespace {

class QtStatusBar final : public StatusBar {
public:
    QtStatusBar(StatusItemHooks hooks, HotKeyFacade* hotKeys) : hooks_(std::move(hooks)), hotKeys_(hotKeys) {}
    std::shared_ptr<StatusItem> statusItemWithLength(double) override
    {
        return std::make_shared<QtStatusItem>(hooks_, hotKeys_);
    }

private:
    StatusItemHooks hooks_;
    QPointer<HotKeyFacade> hotKeys_;
};

} // namespace

std::shared_ptr<StatusBar> makeStatusBar(StatusItemHooks hooks, HotKeyFacade* hotKeys)
{
    return std::make_shared<QtStatusBar>(std::move(hooks), hotKeys);
}

} // namespace platform::linux_impl
