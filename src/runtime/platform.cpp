#include "platform.h"

#include <QDesktopServices>
#include <QLockFile>
#include <QUrl>

namespace himekuri {

SystemPlatform::SystemPlatform()
    : m_lock(std::make_unique<QLockFile>(lockPath()))
{
    // A lock whose holder died is taken over at once (the holder's pid is
    // checked), and creating the lock is atomic, so of two copies started
    // together exactly one runs.
    m_lock->setStaleLockTime(0);
    m_anotherCopyRunning = !m_lock->tryLock(0);
}

SystemPlatform::~SystemPlatform() = default;

// The launcher (xdg-open, the shell) is started detached: the page loads in
// the browser's own time, not the calendar's.
bool SystemPlatform::openInBrowser(const QUrl &url) const
{
    return QDesktopServices::openUrl(url);
}

} // namespace himekuri
