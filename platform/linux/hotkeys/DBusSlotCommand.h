// `kovra-radio --slot N`: a later launch hands slot N to the running instance over the session
// bus, where it acts as a press of that slot's shortcut. For desktops that bind commands, not
// portal shortcuts, to keys.
#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

namespace platform::linux_impl {

// "--slot N" at argv[i], N from 1 to 5.
enum class SlotOption : char { absent, taken, invalid };
// Reads "--slot N" at argv[i]: when taken, slot is N and i has moved past it; invalid when N is
// missing or not a number from 1 to 5 (what to do about it is the caller's).
SlotOption takeSlotOption(int argc, char** argv, int& i, int& slot);

// In a launch that found another instance running: hands it the slot asked for (1 to 5; 0 for
// none), and says what happened. Returns the exit status.
int forwardSlotToRunningInstance(int slot);

// In the running instance: answers later launches on the session bus while it lives. A slot
// they ask for (0 to 4) goes to press, which is false when there is no such shortcut.
class SlotCommands final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kovra.Radio.HotKeys")
public:
    explicit SlotCommands(std::function<bool(uint32_t slot)> press);
    ~SlotCommands() override;
    SlotCommands(const SlotCommands&) = delete;
    SlotCommands& operator=(const SlotCommands&) = delete;

public Q_SLOTS:
    // The number as the user sees it, 1 to 5.
    void PressSlot(int number);

private:
    std::function<bool(uint32_t)> press_;
    bool registered_ = false;
};

} // namespace platform::linux_impl
