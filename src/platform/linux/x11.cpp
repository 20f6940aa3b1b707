// The calendar's windows on X11 (and XWayland), through the connection Qt
// keeps: the layers the window manager keeps them in, the taskbar, and who
// has the keyboard. xcb only, the library Qt itself speaks.
#include "platform/platform.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <vector>
#include <xcb/xcb.h>

namespace himekuri {

namespace {

xcb_connection_t *x11Connection()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootOf(xcb_connection_t *connection)
{
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

// The atoms the calendar speaks of, interned once per connection, together.
struct Atoms
{
    xcb_atom_t state, below, above, skipTaskbar, skipPager, stacking, active;

    static const Atoms &of(xcb_connection_t *connection)
    {
        static xcb_connection_t *known = nullptr;
        static Atoms atoms {};
        if (known == connection)
            return atoms;
        static constexpr const char *names[] = {
            "_NET_WM_STATE",
            "_NET_WM_STATE_BELOW",
            "_NET_WM_STATE_ABOVE",
            "_NET_WM_STATE_SKIP_TASKBAR",
            "_NET_WM_STATE_SKIP_PAGER",
            "_NET_CLIENT_LIST_STACKING",
            "_NET_ACTIVE_WINDOW",
        };
        xcb_intern_atom_cookie_t cookies[std::size(names)];
        for (std::size_t i = 0; i < std::size(names); ++i)
            cookies[i] = xcb_intern_atom(connection, 0, uint16_t(qstrlen(names[i])), names[i]);
        xcb_atom_t *fields[] = {&atoms.state,     &atoms.below,    &atoms.above, &atoms.skipTaskbar,
                                &atoms.skipPager, &atoms.stacking, &atoms.active};
        for (std::size_t i = 0; i < std::size(names); ++i) {
            xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookies[i], nullptr);
            *fields[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
            free(reply);
        }
        known = connection;
        return atoms;
    }
};

// One round trip: a property's 32-bit values (atoms, windows).
std::vector<uint32_t> readValues(xcb_connection_t *connection, xcb_window_t window,
                                 xcb_atom_t property, xcb_atom_t type)
{
    std::vector<uint32_t> values;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, type, 0, 4096), nullptr);
    if (reply && reply->format == 32) {
        const auto *data = static_cast<const uint32_t *>(xcb_get_property_value(reply));
        values.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    free(reply);
    return values;
}

// Asks the window manager to add or remove a state of a mapped window.
void changeNetWmState(xcb_connection_t *connection, xcb_window_t window, bool add, xcb_atom_t state)
{
    xcb_client_message_event_t event {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.window = window;
    event.type = Atoms::of(connection).state;
    event.format = 32;
    event.data.data32[0] = add ? 1 : 0;
    event.data.data32[1] = state;
    event.data.data32[3] = 1; // from an application
    xcb_send_event(connection, 0, rootOf(connection),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

// What the window manager said of a window's place at the bottom, kept from
// its events rather than asked at every push: the window's _NET_WM_STATE and
// the root's _NET_CLIENT_LIST_STACKING. A push while neither changed costs
// the X server nothing; BELOW is stated again only when it went missing, and
// the window lowered only when something came below it.
class BottomKeeper final : public QObject, public QAbstractNativeEventFilter
{
public:
    static constexpr char Name[] = "himekuri-bottom-keeper";

    BottomKeeper(QWidget *window, xcb_connection_t *connection)
        : QObject(window)
        , m_connection(connection)
        , m_atoms(Atoms::of(connection))
        , m_window(xcb_window_t(window->windowHandle()->winId()))
        , m_root(rootOf(connection))
    {
        setObjectName(QLatin1String(Name));
        qApp->installNativeEventFilter(this);
    }
    ~BottomKeeper() override { qApp->removeNativeEventFilter(this); }

    // Someone else may have moved it: everything is asked afresh.
    void forget()
    {
        m_stateKnown = m_stackingKnown = false;
        m_lowerDue = true;
    }

    void push(QWindow *handle)
    {
        if (!m_stateKnown) {
            m_stateKnown = true;
            m_below = isStatedBelow();
        }
        if (!m_below) {
            changeNetWmState(m_connection, m_window, true, m_atoms.below);
            changeNetWmState(m_connection, m_window, false, m_atoms.above);
            xcb_flush(m_connection);
            m_lowerDue = true;
        }
        if (!m_stackingKnown) {
            // A window manager that does not tell the stacking: asked at every push.
            const int place = placeInStacking();
            m_stackingKnown = place >= 0;
            if (place < 0) {
                m_lowerDue = true;
            } else if (m_lowered || m_settled < 0 || place < m_settled) {
                // After our own lower this is where the bottom is.
                m_settled = place;
                m_lowered = false;
            } else if (place > m_settled) {
                m_lowerDue = true;
            }
        }
        if (m_lowerDue) {
            m_lowerDue = false;
            m_lowered = true;
            handle->lower();
        }
    }

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY)
            return false;
        const auto *change = reinterpret_cast<const xcb_property_notify_event_t *>(event);
        if (change->window == m_window && change->atom == m_atoms.state)
            m_stateKnown = false;
        else if (change->window == m_root && change->atom == m_atoms.stacking)
            m_stackingKnown = false;
        return false;
    }

private:
    // One round trip: whether the states hold BELOW and not ABOVE.
    bool isStatedBelow() const
    {
        const std::vector<uint32_t> states =
            readValues(m_connection, m_window, m_atoms.state, XCB_ATOM_ATOM);
        const auto has = [&states](xcb_atom_t state) {
            return std::find(states.begin(), states.end(), state) != states.end();
        };
        return has(m_atoms.below) && !has(m_atoms.above);
    }

    // One round trip: how many windows the window manager stacks below ours,
    // or -1 where it does not say.
    int placeInStacking() const
    {
        const std::vector<uint32_t> windows =
            readValues(m_connection, m_root, m_atoms.stacking, XCB_ATOM_WINDOW);
        const auto it = std::find(windows.begin(), windows.end(), m_window);
        return it == windows.end() ? -1 : int(it - windows.begin());
    }

    xcb_connection_t *m_connection;
    const Atoms &m_atoms;
    xcb_window_t m_window;
    xcb_window_t m_root;
    bool m_stateKnown = false;
    bool m_below = false;
    bool m_stackingKnown = false;
    bool m_lowerDue = true;
    bool m_lowered = false;
    int m_settled = -1;
};

} // namespace

// The window manager keeps the layers (_NET_WM_STATE_BELOW / _ABOVE); the
// window is only asked to move within its layer, which activates nothing.
void SystemPlatform::stack(QWidget *window, StackPlace place) const
{
    QWindow *handle = window->windowHandle();
    const bool below = place == StackPlace::Bottom;
    const bool above = place == StackPlace::TopMost;
    xcb_connection_t *connection = x11Connection();
    if (!connection) {
        handle->setFlags(window->windowFlags());
        if (below || place == StackPlace::LeaveBottom)
            handle->lower();
        return;
    }
    auto *keeper =
        window->findChild<QObject *>(QLatin1String(BottomKeeper::Name), Qt::FindDirectChildrenOnly);
    auto *bottom =
        keeper ? static_cast<BottomKeeper *>(keeper) : new BottomKeeper(window, connection);
    if (below) {
        bottom->push(handle);
        return;
    }
    const Atoms &atoms = Atoms::of(connection);
    const auto id = xcb_window_t(handle->winId());
    if (place != StackPlace::LeaveTopMost)
        changeNetWmState(connection, id, false, atoms.below);
    if (place != StackPlace::LeaveBottom)
        changeNetWmState(connection, id, above, atoms.above);
    xcb_flush(connection);
    bottom->forget();
    // Leaving the bottom layer would put it in front of everything; it stays
    // behind the windows it was behind.
    if (place == StackPlace::LeaveBottom)
        handle->lower();
}

// Qt has no flag for this that keeps the window out of the window manager's
// transient rules (Qt::Tool does not), so the EWMH states are set before the
// window is mapped; Qt keeps states it does not manage itself.
void SystemPlatform::keepOffTaskbar(QWidget *window) const
{
    xcb_connection_t *connection = x11Connection();
    if (!connection)
        return;
    const Atoms &atoms = Atoms::of(connection);
    const xcb_atom_t states[] = {atoms.skipTaskbar, atoms.skipPager};
    xcb_change_property(connection, XCB_PROP_MODE_APPEND, xcb_window_t(window->winId()),
                        atoms.state, XCB_ATOM_ATOM, 32, 2, states);
    xcb_flush(connection);
}

// Where the keyboard is, as the window manager says; a window of ours, or
// none at all, is not another program's.
bool SystemPlatform::otherProgramActive() const
{
    xcb_connection_t *connection = x11Connection();
    if (!connection)
        return false;
    const std::vector<uint32_t> active =
        readValues(connection, rootOf(connection), Atoms::of(connection).active, XCB_ATOM_WINDOW);
    if (active.empty() || !active.front())
        return false;
    const QWindowList ours = QGuiApplication::allWindows();
    return std::none_of(ours.begin(), ours.end(), [&active](QWindow *window) {
        return window->handle() && xcb_window_t(window->winId()) == active.front();
    });
}

const char *preferredPlatformPlugin()
{
    // The stacking modes, the taskbar states and the pane's helper all need
    // X11: the user's QT_QPA_PLATFORM (wayland, in many Wayland set-ups) is
    // not for this program.
    return qEnvironmentVariableIsEmpty("DISPLAY") ? nullptr : "xcb";
}

QString windowSystemProblem()
{
    const QByteArray name = qgetenv("DISPLAY");
    if (name.isEmpty()) {
        return QStringLiteral("X ディスプレイがありません（DISPLAY が設定されていません）。"
                              "カレンダーは X11 か XWayland の上で動きます。\n"
                              "There is no X display (DISPLAY is not set); the calendar runs on "
                              "X11 or XWayland.");
    }
    xcb_connection_t *connection = xcb_connect(name.constData(), nullptr);
    const bool broken = xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    if (broken) {
        return QStringLiteral("X ディスプレイ %1 に接続できません。\n"
                              "Cannot connect to the X display %1.")
            .arg(QString::fromLocal8Bit(name));
    }
    return {};
}

} // namespace himekuri
