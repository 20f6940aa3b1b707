#include "platform.h"

#include <QDir>
#include <QWidget>
#include <windows.h>

namespace himekuri {

// The top of the current drive, where the files have always been.
QString SystemPlatform::findInstallFolder()
{
    return QDir::rootPath() + QStringLiteral("Program Files/Tesrava/");
}

// The temporary folder is the user's own on Windows.
void SystemPlatform::takeLock()
{
    m_instance.take(QDir::tempPath());
}

void SystemPlatform::restack(QWidget *window, StackPlace place) const
{
    constexpr UINT flags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW;
    const auto hwnd = reinterpret_cast<HWND>(window->winId());
    switch (place) {
    case StackPlace::Bottom:
        SetWindowPos(hwnd, HWND_BOTTOM, 0, 0, 0, 0, flags);
        break;
    case StackPlace::LeaveBottom:
        // Windows keeps no bottom band: the window already is an ordinary one.
        break;
    case StackPlace::TopMost:
        SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, flags);
        break;
    case StackPlace::LeaveTopMost:
        SetWindowPos(hwnd, HWND_NOTOPMOST, 0, 0, 0, 0, flags);
        break;
    }
}

// A tool window has no taskbar button.
void SystemPlatform::keepOffTaskbar(QWidget *window) const
{
    window->setWindowFlag(Qt::Tool);
}

const char *preferredPlatformPlugin()
{
    return nullptr;
}

} // namespace himekuri
