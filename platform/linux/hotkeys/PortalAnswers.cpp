// Decoding the desktop portal's answers, each value only once its type is the interface's.
#include "platform/linux/hotkeys/PortalAnswers.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>

#include <utility>

namespace platform::linux_impl {

namespace {

template <typename T>
bool holds(const QVariant& value)
{
    return value.metaType() == QMetaType::fromType<T>();
}

// The argument when it is a container of exactly this signature (only then may it be read as one).
std::optional<QDBusArgument> container(const QVariant& value, QLatin1StringView signature)
{
    if (!holds<QDBusArgument>(value))
        return std::nullopt;
    auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != signature)
        return std::nullopt;
    return argument;
}

std::optional<QVariantMap> dictionary(const QVariant& value)
{
    const auto argument = container(value, QLatin1StringView("a{sv}"));
    if (!argument)
        return std::nullopt;
    QVariantMap map;
    std::as_const(*argument) >> map;
    return map;
}

} // namespace

std::optional<PortalResponse> portalResponse(const QVariantList& arguments)
{
    if (arguments.size() != 2 || !holds<uint>(arguments[0]))
        return std::nullopt;
    auto results = dictionary(arguments[1]);
    if (!results)
        return std::nullopt;
    return PortalResponse{arguments[0].toUInt(), *results};
}

std::optional<uint32_t> portalVersion(const QVariant& value)
{
    const QVariant inner = holds<QDBusVariant>(value) ? value.value<QDBusVariant>().variant() : value;
    if (!holds<uint>(inner) || inner.toUInt() < 1)
        return std::nullopt;
    return inner.toUInt();
}

QString portalPath(const QVariant& value)
{
    if (holds<QDBusObjectPath>(value))
        return value.value<QDBusObjectPath>().path();
    return holds<QString>(value) ? value.toString() : QString();
}

std::optional<PortalBindings> portalBindings(const QVariant& value)
{
    const auto list = container(value, QLatin1StringView("a(sa{sv})"));
    if (!list)
        return std::nullopt;
    // Read through a const reference: the non-const overloads of these calls write.
    const QDBusArgument& argument = *list;
    PortalBindings bindings;
    argument.beginArray();
    while (!argument.atEnd()) {
        QString id;
        QVariantMap properties;
        argument.beginStructure();
        argument >> id >> properties;
        argument.endStructure();
        const QVariant trigger = properties.value(QStringLiteral("trigger_description"));
        bindings.emplace_back(id, holds<QString>(trigger) ? trigger.toString() : QString());
    }
    argument.endArray();
    return bindings;
}

std::optional<std::pair<QString, QString>> portalActivation(const QVariantList& arguments)
{
    if (arguments.size() < 2 || !holds<QString>(arguments[1]))
        return std::nullopt;
    const QString session = portalPath(arguments[0]);
    if (session.isEmpty())
        return std::nullopt;
    return std::pair{session, arguments[1].toString()};
}

std::optional<std::pair<QString, PortalBindings>> portalBindingsChanged(const QVariantList& arguments)
{
    if (arguments.size() < 2)
        return std::nullopt;
    const QString session = portalPath(arguments[0]);
    auto bindings = portalBindings(arguments[1]);
    if (session.isEmpty() || !bindings)
        return std::nullopt;
    return std::pair{session, *bindings};
}

} // namespace platform::linux_impl
