#include "platform/platform.h"

#include <QDir>
#include <QWidget>
#include <windows.h>

namespace himekuri {

void SystemPlatform::stack(QWidget *window, StackPlace place) const
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

// A tool window has no taskbar button. Set before the native window exists,
// it makes none anew.
void SystemPlatform::keepOffTaskbar(QWidget *window) const
{
    window->setWindowFlag(Qt::Tool);
}

bool SystemPlatform::otherProgramActive() const
{
    const HWND active = GetForegroundWindow();
    DWORD process = 0;
    GetWindowThreadProcessId(active, &process);
    return active && active != GetShellWindow() && active != GetDesktopWindow()
        && process != GetCurrentProcessId();
}

const char *preferredPlatformPlugin()
{
    return nullptr;
}

QString windowSystemProblem()
{
    return {};
}

} // namespace himekuri
