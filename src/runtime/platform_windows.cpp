#include "platform.h"

#include <QDir>
#include <QWidget>
#include <windows.h>

namespace himekuri {

// The top of the current drive, where the files have always been: the drive
// of the current directory, which need not be the system's (QDir::rootPath()).
SystemPlatform::Folder SystemPlatform::findInstallFolder()
{
    const QString current = QDir::currentPath();
    QString top = QDir::rootPath();
    if (current.size() >= 2 && current[1] == u':') {
        top = current.left(2) + u'/';
    } else if (current.startsWith(QLatin1String("//"))) {
        // A network share's top: //server/share/
        const qsizetype share = current.indexOf(u'/', 2);
        const qsizetype end = share < 0 ? -1 : current.indexOf(u'/', share + 1);
        top = (end < 0 ? current : current.left(end)) + u'/';
    }
    return {top + QStringLiteral("Program Files/Tesrava/"), {}};
}

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
