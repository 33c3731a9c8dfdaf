// What the desktop portal's GlobalShortcuts interface sends us, decoded only when each value has
// the type the interface gives it: a portal (or anything else owning its name) that answers with
// other types is treated as one that did not answer.
#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace platform::linux_impl {

// A Request's Response signal, (u response, a{sv} results).
struct PortalResponse {
    uint32_t response = 2;
    QVariantMap results;
};
std::optional<PortalResponse> portalResponse(const QVariantList& arguments);

// The portal's version (a u, inside a variant when read as a property); none unless it is at least 1.
std::optional<uint32_t> portalVersion(const QVariant& value);

// An object path: portals have sent them both as object paths and as strings. Empty otherwise.
QString portalPath(const QVariant& value);

// A list of shortcuts, a(sa{sv}): each id with the desktop's description of its trigger ("" when
// it sends none, or not as text). None when the value is not such a list.
using PortalBindings = std::vector<std::pair<QString, QString>>;
std::optional<PortalBindings> portalBindings(const QVariant& value);

// The Activated signal, (o session, s shortcut id, t timestamp, a{sv} options): the session and the id.
std::optional<std::pair<QString, QString>> portalActivation(const QVariantList& arguments);

// The ShortcutsChanged signal, (o session, a(sa{sv}) shortcuts).
std::optional<std::pair<QString, PortalBindings>> portalBindingsChanged(const QVariantList& arguments);

} // namespace platform::linux_impl
