// Where the data files live on Windows: where they always have.
#include "platform/platform.h"

#include <QDir>

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

} // namespace himekuri
