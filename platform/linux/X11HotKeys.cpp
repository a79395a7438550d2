#include "platform/GlobalHotKeys.h"
#include "platform/linux/PortalHotKeys.h"

#include <QAbstractNativeEventFilter>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QHash>
#include <QPointer>
#include <QTimer>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr quint8 badAccess = 10; // X11 error code: the key combination is grabbed by another client

// A grab must not depend on Caps Lock or Num Lock (Mod2 on every common layout): each key is grabbed
// with all four combinations of the two, and they are ignored when a press is matched.
constexpr quint16 lockMasks[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr quint16 ignoredMasks = XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2;

quint16 x11Modifiers(Qt::KeyboardModifiers modifiers) {
    quint16 mask = 0;
    if (modifiers & Qt::ShiftModifier) mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Qt::ControlModifier) mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & Qt::AltModifier) mask |= XCB_MOD_MASK_1;
    if (modifiers & Qt::MetaModifier) mask |= XCB_MOD_MASK_4;
    return mask;
}

// Qt's codes of space, digits and capital letters are their Latin-1 keysyms.
std::optional<xcb_keysym_t> keysym(Qt::Key key) {
    if (key == Qt::Key_Space || (key >= Qt::Key_0 && key <= Qt::Key_9)) return xcb_keysym_t(key);
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return xcb_keysym_t(key - Qt::Key_A + 'a');
    return std::nullopt;
}

class X11HotKeys final : public GlobalHotKeys, public QAbstractNativeEventFilter {
public:
    X11HotKeys(xcb_connection_t* connection, xcb_window_t root)
        : m_connection(connection)
        , m_root(root)
        , m_symbols(xcb_key_symbols_alloc(connection)) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~X11HotKeys() override {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        for (auto it = m_grabs.cbegin(); it != m_grabs.cend(); ++it)
            ungrab(it.value());
        xcb_flush(m_connection);
        xcb_key_symbols_free(m_symbols);
    }
    X11HotKeys(const X11HotKeys&) = delete;
    X11HotKeys& operator=(const X11HotKeys&) = delete;

    Result add(int id, Qt::Key key, Qt::KeyboardModifiers modifiers, const QString&) override {
        remove(id);
        const std::optional<xcb_keysym_t> symbol = keysym(key);
        xcb_keycode_t* codes = symbol ? xcb_key_symbols_get_keycode(m_symbols, *symbol) : nullptr;
        const xcb_keycode_t code = codes ? codes[0] : XCB_NO_SYMBOL;
        free(codes);
        if (code == XCB_NO_SYMBOL) return {Outcome::failed, u"the keyboard has no such key"_s};
        const Grab grab{code, x11Modifiers(modifiers)};
        // All four requests go out before the first answer is awaited: one round trip.
        xcb_void_cookie_t cookies[std::size(lockMasks)];
        for (size_t i = 0; i < std::size(lockMasks); ++i)
            cookies[i] = xcb_grab_key_checked(m_connection, 1, m_root, grab.modifiers | lockMasks[i], code,
                                              XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        Result result{Outcome::registered, {}};
        for (const xcb_void_cookie_t cookie : cookies) {
            xcb_generic_error_t* error = xcb_request_check(m_connection, cookie);
            if (!error) continue;
            if (result.outcome == Outcome::registered)
                result = error->error_code == badAccess
                             ? Result{Outcome::taken, u"another application holds this key (BadAccess)"_s}
                             : Result{Outcome::failed, u"X11 error %1"_s.arg(error->error_code)};
            free(error);
        }
        if (result.outcome != Outcome::registered) {
            ungrab(grab); // the combinations that did succeed
            xcb_flush(m_connection);
            return result;
        }
        m_grabs.insert(id, grab);
        return result;
    }

    void remove(int id) override {
        const auto it = m_grabs.constFind(id);
        if (it == m_grabs.cend()) return;
        ungrab(it.value());
        xcb_flush(m_connection);
        m_grabs.erase(it);
    }

    QString unavailableReason() const override { return {}; }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_KEY_PRESS) return false;
        const auto* press = static_cast<const xcb_key_press_event_t*>(message);
        const quint16 modifiers = press->state & ~ignoredMasks & 0xff;
        for (auto it = m_grabs.cbegin(); it != m_grabs.cend(); ++it) {
            if (it->code != press->detail || it->modifiers != modifiers) continue;
            // Reported after this event is handled: the receiver may open windows or menus.
            QTimer::singleShot(0, &m_context, [this, id = it.key()] {
                if (onPressed) onPressed(id);
            });
            return true;
        }
        return false;
    }

private:
    struct Grab {
        xcb_keycode_t code;
        quint16 modifiers;
    };
    void ungrab(const Grab& grab) {
        for (const quint16 locks : lockMasks)
            xcb_ungrab_key(m_connection, grab.code, m_root, grab.modifiers | locks);
    }

    xcb_connection_t* m_connection;
    xcb_window_t m_root;
    xcb_key_symbols_t* m_symbols;
    QHash<int, Grab> m_grabs;
    QObject m_context; // ends queued reports with this object
};

} // namespace

std::unique_ptr<GlobalHotKeys> GlobalHotKeys::create() {
    if (const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        // Qt's offscreen platform offers the interface too, without a connection.
        if (xcb_connection_t* connection = x11->connection()) {
            const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
            if (screen) return std::make_unique<X11HotKeys>(connection, screen->root);
        }
    }
    // Wayland and the rest: the desktop portal, when it offers global shortcuts.
    return makePortalHotKeys(QDBusConnection::sessionBus());
}
