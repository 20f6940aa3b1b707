#include "platform.h"

#include <QDir>

namespace himekuri {

// The temporary folder is per user on Windows.
QString SystemPlatform::lockPath()
{
    return QDir::tempPath() + QStringLiteral("/himekuri.lock");
}

// The top of the current drive, where the files have always been.
QString SystemPlatform::installFolder() const
{
    return QDir::rootPath() + QStringLiteral("Program Files/Tesrava/");
}

} // namespace himekuri
