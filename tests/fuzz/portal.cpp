// Fuzz target: whatever a process owning the portal's name may send. Each input is turned into a
// D-Bus signal of any types and values (built with libdbus, which only writes valid messages), sent
// over a private connection to Qt, and what Qt delivers goes through the portal-answer decoding.
#include "platform/linux/PortalAnswers.h"
#include "tests/fixtures/DBusFuzzMessage.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServer>
#include <QEventLoop>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace platform::linux_impl;
using namespace kovra_fuzz;

namespace {

// Qt's end: takes every signal it is sent and decodes it as each portal answer in turn.
class Receiver : public QObject {
    Q_OBJECT
public:
    int delivered = 0;

public Q_SLOTS:
    void take(const QDBusMessage& message)
    {
        ++delivered;
        const QVariantList arguments = message.arguments();
        if (const auto response = portalResponse(arguments)) {
            (void)portalPath(response->results.value(QStringLiteral("session_handle")));
            (void)portalBindings(response->results.value(QStringLiteral("shortcuts")));
        }
        (void)portalVersion(arguments.value(0));
        (void)portalActivation(arguments);
        (void)portalBindingsChanged(arguments);
    }
};

Receiver* receiver = nullptr;
DBusConnection* sender = nullptr;

void sendAndWait(DBusMessage* message)
{
    const int before = receiver->delivered;
    // Never more than a message's signature may hold (each argument's is bounded, not their sum).
    if (std::strlen(dbus_message_get_signature(message)) > 200) {
        dbus_message_unref(message);
        return;
    }
    dbus_connection_send(sender, message, nullptr);
    dbus_connection_flush(sender);
    dbus_message_unref(message);
    while (receiver->delivered == before)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    new QCoreApplication(*argc, *argv);
    auto* server = new QDBusServer(QStringLiteral("unix:tmpdir=/tmp"));
    receiver = new Receiver;
    bool connected = false;
    QObject::connect(server, &QDBusServer::newConnection, receiver, [&connected](const QDBusConnection& peer) {
        QDBusConnection(peer).connect(QString(), QStringLiteral("/org/freedesktop/portal/desktop"),
                                      QStringLiteral("org.kovra.Fuzz"), QStringLiteral("Answer"), receiver,
                                      SLOT(take(QDBusMessage)));
        connected = true;
    });
    DBusError error;
    dbus_error_init(&error);
    sender = dbus_connection_open_private(server->address().toUtf8().constData(), &error);
    if (!sender)
        std::abort();
    dbus_connection_flush(sender);
    while (!connected)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in{data, size};
    DBusMessage* message = dbus_message_new_signal("/org/freedesktop/portal/desktop", "org.kovra.Fuzz", "Answer");
    // The answers' own shapes first, so that the decoding past the first check is reached too.
    appendArguments(message, in, {"u", "a{sv}", "o", "s", "a(sa{sv})", "a{ss}", "(ii)", "v", "t"});
    sendAndWait(message);
    return 0;
}

#include "portal.moc"
