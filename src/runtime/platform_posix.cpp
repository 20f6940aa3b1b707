#include "platform.h"

#include <QDir>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QWidget>
#include <QWindow>

// Last: Xlib's macros (None, Bool, Status...) would clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace himekuri {

// Per user, and per session where the desktop provides a runtime folder.
QString SystemPlatform::lockPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/himekuri.lock");
}

// Without drive letters the home folder stands for the top of the drive.
QString SystemPlatform::installFolder() const
{
    return QDir::homePath() + QStringLiteral("/Program Files/Tesrava/");
}

// The window manager keeps the layers (_NET_WM_STATE_BELOW / _ABOVE); the
// window is only asked to move within its layer, which activates nothing.
void SystemPlatform::restack(QWidget *window, StackPlace place) const
{
    QWindow *handle = window->windowHandle();
    if (!handle)
        return;
    const Qt::WindowFlags layers = Qt::WindowStaysOnBottomHint | Qt::WindowStaysOnTopHint;
    const Qt::WindowFlags before = window->windowFlags();
    Qt::WindowFlags flags = before;
    switch (place) {
    case StackPlace::Bottom:
        flags = (flags & ~layers) | Qt::WindowStaysOnBottomHint;
        break;
    case StackPlace::LeaveBottom:
        flags &= ~Qt::WindowStaysOnBottomHint;
        break;
    case StackPlace::TopMost:
        flags = (flags & ~layers) | Qt::WindowStaysOnTopHint;
        break;
    case StackPlace::LeaveTopMost:
        flags &= ~Qt::WindowStaysOnTopHint;
        break;
    }
    if (flags != before) {
        // Changed on the native window in place: QWidget::setWindowFlags would
        // hide it and make a new one.
        window->overrideWindowFlags(flags);
        handle->setFlags(flags);
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
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return;
    Display *display = x11->display();
    const auto id = static_cast<Window>(window->winId());
    Atom states[] = {
        XInternAtom(display, "_NET_WM_STATE_SKIP_TASKBAR", False),
        XInternAtom(display, "_NET_WM_STATE_SKIP_PAGER", False),
    };
    XChangeProperty(display, id, XInternAtom(display, "_NET_WM_STATE", False), XA_ATOM, 32,
                    PropModeAppend, reinterpret_cast<unsigned char *>(states), 2);
    XFlush(display);
}

void choosePlatformPlugin()
{
    // An explicit choice (the tests draw off screen) stands.
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

} // namespace himekuri
