// Global shortcuts on X11: passive key grabs on the root window through Qt's own xcb connection,
// one activation per physical press.
#include "platform/linux/hotkeys/X11HotKeys.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QPointer>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>
// xkb.h names a struct member "explicit", which C++ reserves.
#ifdef __clang__
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wkeyword-macro"
#endif
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#ifdef __clang__
#pragma clang diagnostic pop
#endif

#include <algorithm>
#include <cstdlib>

namespace platform::linux_impl {
namespace {

// Replies and errors from xcb are malloc'ed; this frees them whatever path we leave by.
template <class T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;
template <class T>
XcbReply<T> own(T* reply)
{
    return XcbReply<T>(reply, &std::free);
}

// X modifier masks of a trigger: Alt is Mod1, the logo key Mod4.
uint16_t xModifiersFor(const HotKeyTrigger& trigger)
{
    return uint16_t((trigger.alt ? XCB_MOD_MASK_1 : 0) | (trigger.super ? XCB_MOD_MASK_4 : 0)
                    | (trigger.control ? XCB_MOD_MASK_CONTROL : 0) | (trigger.shift ? XCB_MOD_MASK_SHIFT : 0));
}

// CapsLock and NumLock must not stop a shortcut, so each grab is made with every combination of them.
constexpr uint16_t kLockMasks[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr uint16_t kCoreModifiers =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;

} // namespace

// Held by the facade; ungrabs when it goes, unless the backend went first.
class X11HotKeys::GrabBinding final : public HotKeyBinding {
public:
    GrabBinding(X11HotKeys* backend, std::list<Grab>::iterator grab) : backend_(backend), grab_(grab) {}
    ~GrabBinding() override
    {
        if (backend_)
            backend_->release(grab_);
    }

private:
    QPointer<X11HotKeys> backend_;
    std::list<Grab>::iterator grab_;
};

X11HotKeys::X11HotKeys()
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
        constexpr uint32_t kFlag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
        // Where the server refuses, isNewPress() tells the repeats apart by their timestamps.
        own(xcb_xkb_per_client_flags_reply(
            connection_, xcb_xkb_per_client_flags(connection_, XCB_XKB_ID_USE_CORE_KBD, kFlag, kFlag, 0, 0, 0),
            nullptr));

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

X11HotKeys::~X11HotKeys()
{
    if (!connectionUsable())
        return;
    for (const auto& grab : grabs_)
        ungrab(grab);
    xcb_flush(connection_);
}

bool X11HotKeys::connectionUsable() const
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

std::unique_ptr<HotKeyBinding> X11HotKeys::bind(int slot, const HotKeyTrigger& trigger)
{
    if (trigger.digit < 1 || trigger.digit > 5 || !connectionUsable())
        return nullptr;
    Grab grab{digitKeycodes_[trigger.digit - 1], xModifiersFor(trigger), slot, trigger};
    for (const auto& other : grabs_)
        if (other.keycode == grab.keycode && other.modifiers == grab.modifiers)
            return nullptr;

    // Checked grabs: a combination another client holds answers BadAccess for this key alone.
    std::vector<xcb_void_cookie_t> cookies;
    for (uint32_t root : roots_)
        for (uint16_t lock : kLockMasks)
            cookies.push_back(xcb_grab_key_checked(connection_, 0, root, grab.modifiers | lock, grab.keycode,
                                                   XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    bool failed = false;
    for (auto cookie : cookies)
        failed = bool(own(xcb_request_check(connection_, cookie))) || failed;
    // A connection that broke meanwhile reports no errors at all.
    if (failed || xcb_connection_has_error(connection_) || roots_.empty()) {
        // Ungrabbing releases only our own grabs, and no other grab of ours uses this combination.
        ungrab(grab);
        xcb_flush(connection_);
        return nullptr;
    }
    grabs_.push_back(grab);
    return std::make_unique<GrabBinding>(this, std::prev(grabs_.end()));
}

QString X11HotKeys::boundTrigger(int slot) const
{
    // A grab is exactly the trigger asked for.
    for (const auto& grab : grabs_)
        if (grab.slot == slot)
            return grab.trigger.displayText();
    return {};
}

void X11HotKeys::release(std::list<Grab>::iterator grab)
{
    if (connectionUsable()) {
        ungrab(*grab);
        xcb_flush(connection_);
    }
    grabs_.erase(grab);
}

void X11HotKeys::ungrab(const Grab& grab)
{
    for (uint32_t root : roots_)
        for (uint16_t lock : kLockMasks)
            xcb_ungrab_key(connection_, grab.keycode, root, grab.modifiers | lock);
}

bool X11HotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* /*result*/)
{
    if (grabs_.empty() || eventType != "xcb_generic_event_t" || !message)
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
    const uint16_t modifiers = key->state & kCoreModifiers;
    auto match = std::find_if(grabs_.begin(), grabs_.end(),
                              [&](const Grab& g) { return g.keycode == key->detail && g.modifiers == modifiers; });
    if (match == grabs_.end())
        return false;
    if (isNewPress(key->detail, key->time)) {
        // Delivered from the event loop rather than from inside Qt's native event processing, so a
        // handler may open menus or spin an event loop of its own.
        QMetaObject::invokeMethod(
            this, [this, slot = match->slot] { Q_EMIT activated(slot); }, Qt::QueuedConnection);
    }
    return true;
}

bool X11HotKeys::isNewPress(uint8_t keycode, uint32_t time)
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

} // namespace platform::linux_impl
