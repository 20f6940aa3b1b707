#include "platform.h"
#include "startup/datafiles.h"
#include "startup/filesystem.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <vector>

// Last: Xlib's macros (None, Bool, Status...) would clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <xcb/xproto.h>

namespace himekuri {

// The XDG data folder. Earlier versions kept the files in a folder that
// stood for the top of the Windows drive, "Program Files/Tesrava" in the
// home folder: they are moved from there once.
SystemPlatform::Folder SystemPlatform::findInstallFolder()
{
    const QString data = os::dataFolder();
    if (data.isEmpty())
        return {};
    const QString home = os::homeFolder();
    const QString earlier = home.isEmpty() || home == u'/'
        ? QString()
        : home + QStringLiteral("/Program Files/Tesrava/");
    const FolderChoice choice = settleDataFolder(earlier, data + QStringLiteral("/himekuri/"));
    return {choice.folder, choice.warning};
}

namespace {

Display *x11Display()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

// Asks the window manager to add or remove a state of a mapped window.
void changeNetWmState(Display *display, Window window, bool add, const char *state)
{
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_WM_STATE", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = add ? 1 : 0;
    event.xclient.data.l[1] = static_cast<long>(XInternAtom(display, state, False));
    event.xclient.data.l[3] = 1; // from an application
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

} // namespace

namespace {

// What the window manager said of a window's place at the bottom, kept from
// its events rather than asked at every push: the window's _NET_WM_STATE and
// the root's _NET_CLIENT_LIST_STACKING. A push while neither changed costs
// the X server nothing; BELOW is stated again only when it went missing, and
// the window lowered only when something came below it.
class BottomKeeper final : public QObject, public QAbstractNativeEventFilter
{
public:
    static constexpr char Name[] = "himekuri-bottom-keeper";

    BottomKeeper(QWidget *window, Display *display)
        : QObject(window)
        , m_display(display)
        , m_window(static_cast<Window>(window->windowHandle()->winId()))
        , m_root(DefaultRootWindow(display))
        , m_state(XInternAtom(display, "_NET_WM_STATE", False))
        , m_stacking(XInternAtom(display, "_NET_CLIENT_LIST_STACKING", False))
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
            changeNetWmState(m_display, m_window, true, "_NET_WM_STATE_BELOW");
            changeNetWmState(m_display, m_window, false, "_NET_WM_STATE_ABOVE");
            XFlush(m_display);
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
        if (change->window == m_window && change->atom == m_state)
            m_stateKnown = false;
        else if (change->window == m_root && change->atom == m_stacking)
            m_stackingKnown = false;
        return false;
    }

private:
    // One round trip: whether the states hold BELOW and not ABOVE.
    bool isStatedBelow() const
    {
        const std::vector<Atom> atoms = readAtoms(m_window, m_state, XA_ATOM);
        const auto has = [&atoms, this](const char *name) {
            return std::find(atoms.begin(), atoms.end(), XInternAtom(m_display, name, False))
                != atoms.end();
        };
        return has("_NET_WM_STATE_BELOW") && !has("_NET_WM_STATE_ABOVE");
    }

    // One round trip: how many windows the window manager stacks below ours,
    // or -1 where it does not say.
    int placeInStacking() const
    {
        const std::vector<Atom> windows = readAtoms(m_root, m_stacking, XA_WINDOW);
        const auto it = std::find(windows.begin(), windows.end(), m_window);
        return it == windows.end() ? -1 : int(it - windows.begin());
    }

    std::vector<Atom> readAtoms(Window window, Atom property, Atom type) const
    {
        Atom actual = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char *data = nullptr;
        std::vector<Atom> values;
        if (XGetWindowProperty(m_display, window, property, 0, 4096, False, type, &actual, &format,
                               &count, &remaining, &data)
                == Success
            && data && format == 32) {
            const auto *longs = reinterpret_cast<const unsigned long *>(data);
            values.assign(longs, longs + count);
        }
        if (data)
            XFree(data);
        return values;
    }

    Display *m_display;
    Window m_window;
    Window m_root;
    Atom m_state;
    Atom m_stacking;
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
    Display *display = x11Display();
    if (!display) {
        handle->setFlags(window->windowFlags());
        if (below || place == StackPlace::LeaveBottom)
            handle->lower();
        return;
    }
    auto *keeper =
        window->findChild<QObject *>(QLatin1String(BottomKeeper::Name), Qt::FindDirectChildrenOnly);
    auto *bottom = keeper ? static_cast<BottomKeeper *>(keeper) : new BottomKeeper(window, display);
    if (below) {
        bottom->push(handle);
        return;
    }
    const auto id = static_cast<Window>(handle->winId());
    if (place != StackPlace::LeaveTopMost)
        changeNetWmState(display, id, false, "_NET_WM_STATE_BELOW");
    if (place != StackPlace::LeaveBottom)
        changeNetWmState(display, id, above, "_NET_WM_STATE_ABOVE");
    XFlush(display);
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
    Display *display = x11Display();
    if (!display)
        return;
    const auto id = static_cast<Window>(window->winId());
    Atom states[] = {
        XInternAtom(display, "_NET_WM_STATE_SKIP_TASKBAR", False),
        XInternAtom(display, "_NET_WM_STATE_SKIP_PAGER", False),
    };
    XChangeProperty(display, id, XInternAtom(display, "_NET_WM_STATE", False), XA_ATOM, 32,
                    PropModeAppend, reinterpret_cast<unsigned char *>(states), 2);
    XFlush(display);
}

// Where the keyboard is, as the window manager says; a window of ours, or
// none at all, is not another program's.
bool SystemPlatform::otherProgramActive() const
{
    Display *display = x11Display();
    if (!display)
        return false;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char *data = nullptr;
    Window active = 0;
    if (XGetWindowProperty(display, DefaultRootWindow(display),
                           XInternAtom(display, "_NET_ACTIVE_WINDOW", False), 0, 1, False,
                           XA_WINDOW, &type, &format, &count, &remaining, &data)
            == Success
        && data && format == 32 && count == 1)
        active = *reinterpret_cast<Window *>(data);
    if (data)
        XFree(data);
    if (!active)
        return false;
    const QWindowList ours = QGuiApplication::allWindows();
    return std::none_of(ours.begin(), ours.end(), [active](QWindow *window) {
        return window->handle() && static_cast<Window>(window->winId()) == active;
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
    Display *display = XOpenDisplay(name.constData());
    if (!display) {
        return QStringLiteral("X ディスプレイ %1 に接続できません。\n"
                              "Cannot connect to the X display %1.")
            .arg(QString::fromLocal8Bit(name));
    }
    XCloseDisplay(display);
    return {};
}

} // namespace himekuri
