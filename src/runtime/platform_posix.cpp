#include "platform.h"

#include <QDir>
#include <QStandardPaths>

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

} // namespace himekuri
