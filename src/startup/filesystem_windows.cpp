#include "filesystem.h"

#include <QFile>
#include <QFileInfo>
#include <io.h>
#include <windows.h>

namespace himekuri::os {

// Windows keeps no FIFOs or devices among ordinary paths; a folder is refused.
QString openRegularFile(QFile &file)
{
    if (QFileInfo::exists(file.fileName()) && !QFileInfo(file.fileName()).isFile())
        return QStringLiteral("通常のファイルではありません");
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    return {};
}

bool syncToDisk(QFileDevice &file)
{
    if (!file.flush())
        return false;
    const int fd = file.handle();
    if (fd < 0)
        return true; // nothing more to ask for
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    return handle == INVALID_HANDLE_VALUE || FlushFileBuffers(handle);
}

// A rename on NTFS is journalled; there is nothing to flush for it.
void syncFolder(const QString &)
{ }

int lastError()
{
    return int(GetLastError());
}

bool isDiskFull(int error)
{
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

} // namespace himekuri::os
