// System-wide hot keys on X11: passive key grabs on the root window through Qt's own xcb
// connection, delivered to the installed event handler one call per physical press.
#include "platform/linux/X11HotKeys.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>
// xkb.h names a struct member "explicit", which C++ reserves.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace platform::linux_impl {
namespace {

constexpr OSStatus paramErr = -50;
constexpr OSStatus eventInternalErr = -9868;
constexpr OSStatus eventHotKeyExistsErr = -9878;

// Replies and errors from xcb are malloc'ed; this frees them whatever path we leave by.
template <class T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;
template <class T>
XcbReply<T> own(T* reply)
{
    return XcbReply<T>(reply, &std::free);
}

// The one application event target; only its address matters.
char applicationTargetToken;
EventTargetRef applicationTarget() { return reinterpret_cast<EventTargetRef>(&applicationTargetToken); }

// Virtual key codes of the digit keys 1 to 5, by position (5 is 23: 22 is the digit 6).
int digitIndexForKeyCode(uint32_t keyCode)
{
    switch (keyCode) {
    case 18:
        return 0;
    case 19:
        return 1;
    case 20:
        return 2;
    case 21:
        return 3;
    case 23:
        return 4;
    default:
        return -1;
    }
}

// Mac modifier bits as X modifier masks: Option is Alt (Mod1), Command is Super (Mod4).
bool xModifiersFor(uint32_t modifiers, uint16_t& out)
{
    constexpr uint32_t known = cmdKey | shiftKey | optionKey | controlKey;
    if (modifiers & ~known)
        return false;
    out = 0;
    if (modifiers & optionKey)
        out |= XCB_MOD_MASK_1;
    if (modifiers & cmdKey)
        out |= XCB_MOD_MASK_4;
    if (modifiers & controlKey)
        out |= XCB_MOD_MASK_CONTROL;
    if (modifiers & shiftKey)
        out |= XCB_MOD_MASK_SHIFT;
    return true;
}

// CapsLock and NumLock must not stop a shortcut, so each grab is made with every combination of them.
constexpr uint16_t lockMasks[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr uint16_t coreModifiers =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;

// What a handler receives as its EventRef. Only this file ever looks inside.
struct HotKeyEvent {
    OSType eventClass = kEventClassKeyboard;
    uint32_t kind = kEventHotKeyPressed;
    EventHotKeyID id;
};

} // namespace

X11HotKeyService::X11HotKeyService()
{
    auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!gui)
        return;
    auto* x11 = gui->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection() || xcb_connection_has_error(x11->connection()))
        return;
    connection_ = x11->connection();

    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection_)); it.rem; xcb_screen_next(&it))
        roots_.push_back(it.data->root);

    auto xkb = own(xcb_xkb_use_extension_reply(connection_, xcb_xkb_use_extension(connection_, 1, 0), nullptr));
    if (xkb && xkb->supported) {
        // Without this a held key sends release/press pairs at the repeat rate.
        constexpr uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
        auto flags = own(xcb_xkb_per_client_flags_reply(
            connection_, xcb_xkb_per_client_flags(connection_, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0), nullptr));
        detectableAutoRepeat_ = flags && (flags->value & flag);

        // The digit keys by their position on the keyboard, whatever the layout prints on them.
        auto names = own(xcb_xkb_get_names_reply(
            connection_, xcb_xkb_get_names(connection_, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_NAME_DETAIL_KEY_NAMES),
            nullptr));
        if (names) {
            xcb_xkb_get_names_value_list_t list{};
            xcb_xkb_get_names_value_list_unpack(xcb_xkb_get_names_value_list(names.get()), names->nTypes,
                                                names->indicators, names->virtualMods, names->groupNames, names->nKeys,
                                                names->nKeyAliases, names->nRadioGroups, names->which, &list);
            for (int i = 0; list.keyNames && i < names->nKeys; ++i) {
                const char* name = list.keyNames[i].name;
                if (name[0] == 'A' && name[1] == 'E' && name[2] == '0' && name[3] >= '1' && name[3] <= '5')
                    digitKeycodes_[name[3] - '1'] = uint8_t(names->firstKey + i);
            }
        }

        // A press of a key we think is down is a repeat only while repeats keep coming; after a
        // longer pause its release went to someone else, and it is a new press.
        auto controls = own(xcb_xkb_get_controls_reply(
            connection_, xcb_xkb_get_controls(connection_, XCB_XKB_ID_USE_CORE_KBD), nullptr));
        if (controls)
            repeatGapMs_ = std::max<uint32_t>(controls->repeatDelay, controls->repeatInterval) + 500;
    }

    gui->installNativeEventFilter(this);
}

X11HotKeyService::~X11HotKeyService()
{
    if (!connectionUsable())
        return;
    for (const auto& registration : registrations_)
        ungrab(registration);
    xcb_flush(connection_);
}

bool X11HotKeyService::connectionUsable() const
{
    // The connection belongs to Qt: once the application is gone, so is the connection.
    if (!connection_)
        return false;
    auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!gui)
        return false;
    auto* x11 = gui->nativeInterface<QNativeInterface::QX11Application>();
    return x11 && x11->connection() == connection_ && !xcb_connection_has_error(connection_);
}

EventTargetRef X11HotKeyService::applicationEventTarget() { return applicationTarget(); }

OSStatus X11HotKeyService::installEventHandler(EventTargetRef target, EventHandlerProcPtr handler, uint32_t numTypes,
                                               const EventTypeSpec* types, void* userData, EventHandlerRef* outRef)
{
    if (target != applicationTarget() || !handler || (numTypes > 0 && !types))
        return paramErr;
    Handler& installed = handlers_.emplace_back();
    installed.proc = handler;
    installed.userData = userData;
    installed.types.assign(types, types + numTypes);
    if (outRef)
        *outRef = reinterpret_cast<EventHandlerRef>(&installed);
    return noErr;
}

OSStatus X11HotKeyService::registerEventHotKey(uint32_t keyCode, uint32_t modifiers, EventHotKeyID id,
                                               EventTargetRef target, uint32_t /*options*/, EventHotKeyRef* outRef)
{
    const int digit = digitIndexForKeyCode(keyCode);
    Registration registration;
    registration.id = id;
    if (!outRef || target != applicationTarget() || digit < 0 || !xModifiersFor(modifiers, registration.modifiers))
        return paramErr;
    if (!connectionUsable())
        return eventInternalErr;
    registration.keycode = digitKeycodes_[digit];
    for (const auto& other : registrations_)
        if (other.keycode == registration.keycode && other.modifiers == registration.modifiers)
            return eventHotKeyExistsErr;

    // Checked grabs: a combination another client holds answers BadAccess for this key alone.
    std::vector<xcb_void_cookie_t> cookies;
    for (uint32_t root : roots_)
        for (uint16_t lock : lockMasks)
            cookies.push_back(xcb_grab_key_checked(connection_, 0, root, registration.modifiers | lock,
                                                   registration.keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    bool taken = false;
    bool failed = false;
    for (auto cookie : cookies)
        if (auto error = own(xcb_request_check(connection_, cookie))) {
            failed = true;
            taken = taken || error->error_code == XCB_ACCESS;
        }
    // A connection that broke meanwhile reports no errors at all.
    failed = failed || xcb_connection_has_error(connection_) || roots_.empty();
    if (failed) {
        // Ungrabbing releases only our own grabs, and no other registration of ours uses this combination.
        ungrab(registration);
        xcb_flush(connection_);
        return taken ? eventHotKeyExistsErr : eventInternalErr;
    }

    registrations_.push_back(registration);
    *outRef = reinterpret_cast<EventHotKeyRef>(&registrations_.back());
    return noErr;
}

void X11HotKeyService::ungrab(const Registration& registration)
{
    for (uint32_t root : roots_)
        for (uint16_t lock : lockMasks)
            xcb_ungrab_key(connection_, registration.keycode, root, registration.modifiers | lock);
}

OSStatus X11HotKeyService::getEventParameter(EventRef event, OSType name, OSType desiredType, OSType* actualType,
                                             size_t bufferSize, size_t* actualSize, void* outData)
{
    // Only events being delivered right now are ours to read; anything else is a stale or foreign pointer.
    if (!event || std::find(eventsInFlight_.begin(), eventsInFlight_.end(), event) == eventsInFlight_.end())
        return paramErr;
    if (name != kEventParamDirectObject || desiredType != typeEventHotKeyID || bufferSize < sizeof(EventHotKeyID))
        return eventParameterNotFoundErr;
    if (!outData)
        return paramErr;
    const auto* hotKeyEvent = reinterpret_cast<const HotKeyEvent*>(event);
    std::memcpy(outData, &hotKeyEvent->id, sizeof(EventHotKeyID));
    if (actualType)
        *actualType = typeEventHotKeyID;
    if (actualSize)
        *actualSize = sizeof(EventHotKeyID);
    return noErr;
}

bool X11HotKeyService::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* /*result*/)
{
    if (registrations_.empty() || eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto* generic = static_cast<const xcb_generic_event_t*>(message);
    const uint8_t type = generic->response_type & 0x7F;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    // Press and release share one layout.
    const auto* key = static_cast<const xcb_key_press_event_t*>(message);
    const bool onRoot = std::find(roots_.begin(), roots_.end(), key->event) != roots_.end();

    if (type == XCB_KEY_RELEASE) {
        auto it = keys_.find(key->detail);
        if (it == keys_.end())
            return false;
        it->second.down = false;
        it->second.released = true;
        it->second.lastReleaseTime = key->time;
        return onRoot;
    }

    if (!onRoot)
        return false;
    const uint16_t modifiers = key->state & coreModifiers;
    auto match = std::find_if(registrations_.begin(), registrations_.end(), [&](const Registration& r) {
        return r.keycode == key->detail && r.modifiers == modifiers;
    });
    if (match == registrations_.end())
        return false;
    if (isNewPress(key->detail, key->time)) {
        // Delivered from the event loop rather than from inside Qt's native event processing, so a
        // handler may open menus or spin an event loop of its own.
        const EventHotKeyID id = match->id;
        QMetaObject::invokeMethod(
            &queue_, [this, id] { dispatch(id); }, Qt::QueuedConnection);
    }
    return true;
}

bool X11HotKeyService::isNewPress(uint8_t keycode, uint32_t time)
{
    KeyState& state = keys_[keycode];
    const bool repeat = state.down
                            ? uint32_t(time - state.lastPressTime) <= repeatGapMs_
                            // Servers without detectable auto-repeat send a release and a press with one timestamp.
                            : state.released && state.lastReleaseTime == time;
    state.down = true;
    state.lastPressTime = time;
    return !repeat;
}

void X11HotKeyService::dispatch(EventHotKeyID id)
{
    HotKeyEvent event;
    event.id = id;
    auto* ref = reinterpret_cast<EventRef>(&event);
    eventsInFlight_.push_back(ref);
    // The most recently installed handler first, as long as each declines the event.
    for (auto it = handlers_.rbegin(); it != handlers_.rend(); ++it) {
        const bool wanted = std::any_of(it->types.begin(), it->types.end(), [](const EventTypeSpec& t) {
            return t.eventClass == kEventClassKeyboard && t.eventKind == kEventHotKeyPressed;
        });
        if (wanted && it->proc(nullptr, ref, it->userData) != eventNotHandledErr)
            break;
    }
    eventsInFlight_.erase(std::find(eventsInFlight_.begin(), eventsInFlight_.end(), ref));
}

std::shared_ptr<HotKeyService> makeHotKeyService() { return std::make_shared<X11HotKeyService>(); }

} // namespace platform::linux_impl
