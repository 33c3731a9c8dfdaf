// The hot-key service in the shape the units call, spoken over one typed backend; and what the
// desktop bound for each of our shortcuts, for the tray menu to show.
#pragma once

#include "platform/HotKeys.h"
#include "platform/linux/HotKeyBackend.h"

#include <QKeySequence>
#include <QObject>

#include <cstdint>
#include <memory>
#include <optional>

namespace platform::linux_impl {

// Over the backend makeHotKeyBackend() picks for this session.
std::shared_ptr<HotKeyService> makeHotKeyService();
std::shared_ptr<HotKeyService> makeHotKeyService(std::unique_ptr<HotKeyBackend> backend);

// Tells whoever shows our shortcuts that what the desktop bound has changed.
class HotKeyBindings : public QObject {
    Q_OBJECT
public:
    static HotKeyBindings& instance();

    // For a shortcut as a menu would show it: when one of our hot keys asked for that trigger,
    // what the desktop bound in its place (empty: nothing, so show none); none when no hot key
    // of ours asked for it.
    static std::optional<QString> boundText(const QKeySequence& requested);
    // Runs the hot-key handler as a press of the shortcut registered with this id would. False
    // when no shortcut was asked for with it.
    static bool press(uint32_t id);
    // The same, once the shortcut with this id has been asked for (from the event loop, after
    // the start-up that asked for it).
    static void pressWhenRegistered(uint32_t id);

Q_SIGNALS:
    void changed();
};

} // namespace platform::linux_impl
