// Fuzz target: whatever a process owning the portal's name may send. Each input is a D-Bus message
// as it travels on the wire; libdbus reads it (and refuses what is not well formed, as the bus
// does), it goes over a private connection to Qt as the portal's signal, and what Qt delivers goes
// through the portal-answer decoding.
#include "platform/linux/hotkeys/PortalAnswers.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServer>
#include <QEventLoop>

#include <dbus/dbus.h>

#include <cstdint>
#include <cstdlib>

using namespace platform::linux_impl;

namespace {

const char* const kPath = "/org/freedesktop/portal/desktop";
const char* const kInterface = "org.kovra.Fuzz";

// Qt's end: decodes every answer it is sent as each portal answer in turn, until the marker that
// follows each input.
class Receiver : public QObject {
    Q_OBJECT
public:
    bool marked = false;

public Q_SLOTS:
    void take(const QDBusMessage& message)
    {
        const QVariantList arguments = message.arguments();
        if (const auto response = portalResponse(arguments)) {
            (void)portalPath(response->results.value(QStringLiteral("session_handle")));
            (void)portalBindings(response->results.value(QStringLiteral("shortcuts")));
        }
        (void)portalVersion(arguments.value(0));
        (void)portalActivation(arguments);
        (void)portalBindingsChanged(arguments);
    }
    void mark() { marked = true; }
};

Receiver* receiver = nullptr;
DBusConnection* sender = nullptr;

void send(DBusMessage* message)
{
    dbus_connection_send(sender, message, nullptr);
    dbus_message_unref(message);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    new QCoreApplication(*argc, *argv);
    auto* server = new QDBusServer(QStringLiteral("unix:tmpdir=/tmp"));
    receiver = new Receiver;
    bool connected = false;
    QObject::connect(server, &QDBusServer::newConnection, receiver, [&connected](const QDBusConnection& peer) {
        QDBusConnection(peer).connect(QString(), QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
                                      QStringLiteral("Answer"), receiver, SLOT(take(QDBusMessage)));
        QDBusConnection(peer).connect(QString(), QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
                                      QStringLiteral("Mark"), receiver, SLOT(mark()));
        connected = true;
    });
    sender = dbus_connection_open_private(server->address().toUtf8().constData(), nullptr);
    if (!sender)
        std::abort();
    dbus_connection_flush(sender);
    while (!connected)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DBusMessage* read =
        size < (1 << 20) ? dbus_message_demarshal(reinterpret_cast<const char*>(data), int(size), nullptr) : nullptr;
    if (!read)
        return 0;
    // Its body, whatever its header said, arrives as the portal's answer.
    DBusMessage* message = dbus_message_get_type(read) == DBUS_MESSAGE_TYPE_SIGNAL ? dbus_message_copy(read) : nullptr;
    dbus_message_unref(read);
    if (!message)
        return 0;
    if (!dbus_message_set_path(message, kPath) || !dbus_message_set_interface(message, kInterface)
        || !dbus_message_set_member(message, "Answer") || !dbus_message_set_destination(message, nullptr)) {
        dbus_message_unref(message);
        return 0;
    }
    send(message);
    // Qt delivers in order: once the marker is in, the answer has been decoded or dropped.
    receiver->marked = false;
    send(dbus_message_new_signal(kPath, kInterface, "Mark"));
    dbus_connection_flush(sender);
    while (!receiver->marked)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return 0;
}

#include "portal.moc"
