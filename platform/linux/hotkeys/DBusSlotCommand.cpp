// `kovra-radio --slot N` over the session bus: the client in a later launch, the object that
// answers it in the running instance.
#include "platform/linux/hotkeys/DBusSlotCommand.h"

#include "platform/linux/desktop/AppIdentity.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMetaClassInfo>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform::linux_impl {
namespace {

constexpr int kSlots = 5;

// The interface as the class declares it to the bus.
QString slotInterface()
{
    const QMetaObject& meta = SlotCommands::staticMetaObject;
    return QString::fromLatin1(meta.classInfo(meta.indexOfClassInfo("D-Bus Interface")).value());
}

} // namespace

SlotOption takeSlotOption(int argc, char** argv, int& i, int& slot)
{
    if (std::strcmp(argv[i], "--slot") != 0)
        return SlotOption::absent;
    char* end = nullptr;
    const long number = i + 1 < argc ? std::strtol(argv[i + 1], &end, 10) : 0;
    if (!end || *end != '\0' || end == argv[i + 1] || number < 1 || number > kSlots)
        return SlotOption::invalid;
    slot = int(number);
    ++i;
    return SlotOption::taken;
}

int forwardSlotToRunningInstance(int slot)
{
    if (slot == 0) {
        std::fputs("kovra-radio is already running.\n", stderr);
        return 0;
    }
    auto call = QDBusMessage::createMethodCall(AppIdentity::id(), AppIdentity::objectPath(), slotInterface(),
                                               QStringLiteral("PressSlot"));
    call << slot;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        std::fprintf(stderr, "kovra-radio: the running instance did not take slot %d: %s\n", slot,
                     qPrintable(reply.errorMessage()));
        return 1;
    }
    return 0;
}

SlotCommands::SlotCommands(std::function<bool(uint32_t)> press) : press_(std::move(press))
{
    auto bus = QDBusConnection::sessionBus();
    registered_ =
        bus.isConnected() && bus.registerObject(AppIdentity::objectPath(), this, QDBusConnection::ExportAllSlots);
}

SlotCommands::~SlotCommands()
{
    if (registered_)
        QDBusConnection::sessionBus().unregisterObject(AppIdentity::objectPath());
}

void SlotCommands::PressSlot(int number)
{
    if (number < 1 || number > kSlots || !press_ || !press_(uint32_t(number - 1)))
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("there is no slot %1").arg(number));
}

} // namespace platform::linux_impl
