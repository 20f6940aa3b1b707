#include "filesystem.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace himekuri::os {

QString openRegularFile(QFile &file)
{
    const QByteArray name = QFile::encodeName(file.fileName());
    // Opening some devices does something; such a file is not opened at all.
    struct stat info
    {
    };
    if (::stat(name.constData(), &info) != 0)
        return qt_error_string(errno);
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("通常のファイルではありません");
    // O_NONBLOCK: had a FIFO taken the file's place meanwhile, open() would
    // wait for a writer for ever.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return qt_error_string(errno);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return QStringLiteral("通常のファイルではありません");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return file.errorString();
    }
    return {};
}

bool syncToDisk(QFileDevice &file)
{
    return file.flush() && file.handle() >= 0 && ::fsync(file.handle()) == 0;
}

void syncFolder(const QString &folder)
{
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

int lastError()
{
    return errno;
}

bool isDiskFull(int error)
{
    return error == ENOSPC || error == EDQUOT;
}

} // namespace himekuri::os
