// `kovra-radio --slot N` over the session bus: the client in a later launch, the object that
// answers it in the running instance.
#include "platform/linux/DBusSlotCommand.h"

#include "platform/linux/HotKeyFacade.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform::linux_impl {
namespace {

const char* const kService = "org.kovra.Radio";
const char* const kPath = "/org/kovra/Radio";
const char* const kInterface = "org.kovra.Radio.HotKeys";
constexpr int kSlots = 5;

int askedSlot = 0; // 1 to 5; 0 when the command line asked for none

class SlotCommands final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kovra.Radio.HotKeys")
public:
    using QObject::QObject;

public Q_SLOTS:
    // The number as the user sees it, 1 to 5.
    void PressSlot(int number)
    {
        if (number < 1 || number > kSlots || !HotKeyBindings::press(uint32_t(number - 1)))
            sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("there is no slot %1").arg(number));
    }
};

} // namespace

bool takeSlotOption(int argc, char** argv, int& i)
{
    if (std::strcmp(argv[i], "--slot") != 0)
        return false;
    char* end = nullptr;
    const long number = i + 1 < argc ? std::strtol(argv[i + 1], &end, 10) : 0;
    if (!end || *end != '\0' || end == argv[i + 1] || number < 1 || number > kSlots) {
        std::fputs("kovra-radio: --slot needs a number from 1 to 5\n", stderr);
        std::exit(2);
    }
    askedSlot = int(number);
    ++i;
    return true;
}

int forwardSlotToRunningInstance()
{
    if (askedSlot == 0) {
        std::fputs("kovra-radio is already running.\n", stderr);
        return 0;
    }
    auto call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("PressSlot"));
    call << askedSlot;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        std::fprintf(stderr, "kovra-radio: the running instance did not take slot %d: %s\n", askedSlot,
                     qPrintable(reply.errorMessage()));
        return 1;
    }
    return 0;
}

void serveSlotCommands()
{
    auto bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        bus.registerObject(kPath, new SlotCommands(QCoreApplication::instance()), QDBusConnection::ExportAllSlots);
    if (askedSlot != 0)
        HotKeyBindings::pressWhenRegistered(uint32_t(askedSlot - 1));
}

} // namespace platform::linux_impl

#include "DBusSlotCommand.moc"
