#include "platform.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

// Last: Xlib's macros (None, Bool, Status...) would clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace himekuri {

namespace {

// Only the user can put files there: another user cannot lay a lock in
// advance that keeps the calendar from starting.
bool isPrivateFolder(const QString &path)
{
    struct stat info
    {
    };
    return QDir::isAbsolutePath(path) && ::stat(QFile::encodeName(path).constData(), &info) == 0
        && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid()
        && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

QString homeFolder()
{
    const QString home = qEnvironmentVariable("HOME");
    if (QDir::isAbsolutePath(home))
        return QDir::cleanPath(home);
    // Started without HOME (a service, a bare "env -i"): the user database knows.
    if (const passwd *user = ::getpwuid(::geteuid()); user && user->pw_dir) {
        const QString fromDatabase = QFile::decodeName(user->pw_dir);
        if (QDir::isAbsolutePath(fromDatabase))
            return QDir::cleanPath(fromDatabase);
    }
    return {};
}

} // namespace

// Without drive letters the home folder stands for the top of the drive;
// never the root of the file system.
QString SystemPlatform::findInstallFolder()
{
    const QString home = homeFolder();
    return home.isEmpty() || home == QLatin1String("/")
        ? QString()
        : home + QStringLiteral("/Program Files/Tesrava/");
}

// The session's runtime folder; else a folder of the calendar's own in the
// user's cache; else the install folder. A folder is made only when its turn comes.
void SystemPlatform::takeLock()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (isPrivateFolder(runtime) && m_instance.take(runtime))
        return;
    const QString home = homeFolder();
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!QDir::isAbsolutePath(cache) && !home.isEmpty())
        cache = home + QStringLiteral("/.cache");
    if (QDir::isAbsolutePath(cache)) {
        const QString own = cache + QStringLiteral("/himekuri");
        ::mkdir(QFile::encodeName(cache).constData(), 0700);
        ::mkdir(QFile::encodeName(own).constData(), 0700);
        if (isPrivateFolder(cache) && isPrivateFolder(own) && m_instance.take(own))
            return;
    }
    if (!m_installFolder.isEmpty() && QDir().mkpath(m_installFolder)
        && isPrivateFolder(m_installFolder))
        m_instance.take(m_installFolder);
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

// Whether the window's states hold BELOW and not ABOVE, read in one round trip.
bool isStatedBelow(Display *display, Window window)
{
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char *data = nullptr;
    const int status =
        XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_STATE", False), 0, 64,
                           False, XA_ATOM, &type, &format, &count, &remaining, &data);
    bool below = false;
    bool above = false;
    if (status == Success && data && format == 32) {
        const auto *atoms = reinterpret_cast<const Atom *>(data);
        below = std::find(atoms, atoms + count, XInternAtom(display, "_NET_WM_STATE_BELOW", False))
            != atoms + count;
        above = std::find(atoms, atoms + count, XInternAtom(display, "_NET_WM_STATE_ABOVE", False))
            != atoms + count;
    }
    if (data)
        XFree(data);
    return below && !above;
}

} // namespace

// The window manager keeps the layers (_NET_WM_STATE_BELOW / _ABOVE); the
// window is only asked to move within its layer, which activates nothing.
// A state that someone else took away comes back with the next push.
void SystemPlatform::restack(QWidget *window, StackPlace place) const
{
    QWindow *handle = window->windowHandle();
    if (!handle)
        return;
    const bool below = place == StackPlace::Bottom;
    const bool above = place == StackPlace::TopMost;
    Qt::WindowFlags flags = window->windowFlags();
    if (place != StackPlace::LeaveTopMost)
        flags.setFlag(Qt::WindowStaysOnBottomHint, below);
    if (place != StackPlace::LeaveBottom)
        flags.setFlag(Qt::WindowStaysOnTopHint, above);
    // QWidget::setWindowFlags would hide the window and make a new one.
    window->overrideWindowFlags(flags);

    Display *display = x11Display();
    if (!display) {
        handle->setFlags(flags);
    } else {
        const auto id = static_cast<Window>(handle->winId());
        // The push that comes with every paint asks the window manager only
        // when the state went missing; asking anyway costs it and us a
        // round of events each second.
        const bool stated = place == StackPlace::Bottom && isStatedBelow(display, id);
        if (!stated) {
            if (place != StackPlace::LeaveTopMost)
                changeNetWmState(display, id, below, "_NET_WM_STATE_BELOW");
            if (place != StackPlace::LeaveBottom)
                changeNetWmState(display, id, above, "_NET_WM_STATE_ABOVE");
            XFlush(display);
        }
    }
    // Leaving the bottom layer would put it in front of everything; it stays
    // behind the windows it was behind.
    if (place == StackPlace::Bottom || place == StackPlace::LeaveBottom)
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

const char *preferredPlatformPlugin()
{
    // An explicit choice (the tests draw off screen) stands.
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return nullptr;
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        return "xcb";
    return nullptr;
}

} // namespace himekuri
