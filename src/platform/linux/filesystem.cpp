#include "platform/filesystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace himekuri::os {

namespace {

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

// The system's own words, with the one failure users can mend themselves
// said plainly first.
QString describe(int error)
{
    const QString system = qt_error_string(error);
    if (error == ENOSPC || error == EDQUOT)
        return QStringLiteral("ディスクの空き容量が足りません（%1）").arg(system);
    return system;
}

QString notRegular()
{
    return QStringLiteral("通常のファイルではありません");
}

class PosixReplacer final : public FileReplacer
{
public:
    ~PosixReplacer() override { cancel(); }

    bool open(const QString &path, Mode mode) override
    {
        m_target = path;
        m_mode = mode;
        const QFileInfo target(path);
        struct stat old
        {
        };
        const bool replacing = ::stat(native(path).constData(), &old) == 0;
        for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
            m_temporary = target.absolutePath() + u'/' + temporaryName(target.fileName());
            // O_EXCL with O_NOFOLLOW: nothing planted at the name is written through.
            m_fd = ::open(native(m_temporary).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (m_fd < 0 && errno != EEXIST) {
                m_temporary.clear();
                return fail(errno);
            }
        }
        if (m_fd < 0) {
            m_temporary.clear();
            return fail(EEXIST);
        }
        // The file keeps the permissions its owner gave it.
        if (replacing) {
            ::fchmod(m_fd, old.st_mode & 0777);
            // Fails only for a group the user has left since; the file is saved all the same.
            [[maybe_unused]] const bool sameGroup = ::fchown(m_fd, uid_t(-1), old.st_gid) == 0;
        }
        return true;
    }

    qint64 write(const QByteArray &bytes) override
    {
        qint64 done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                fail(n < 0 ? errno : EIO);
                break;
            }
            done += n;
        }
        return done;
    }

    bool flush() override
    {
        while (::fsync(m_fd) != 0) {
            if (errno != EINTR)
                return fail(errno);
        }
        return true;
    }

    bool commit() override
    {
        // close() reports what a network file system kept back until then.
        const int fd = std::exchange(m_fd, -1);
        if (::close(fd) != 0 && errno != EINTR)
            return fail(errno);
        const QByteArray from = native(m_temporary);
        const QByteArray to = native(m_target);
        if (m_mode == Mode::Replace) {
            if (::rename(from.constData(), to.constData()) != 0)
                return fail(errno);
        } else if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(),
                               RENAME_NOREPLACE)
                   != 0) {
            // A file system that cannot refuse to replace: a second name for
            // the whole file instead, which never replaces either.
            if (errno != EINVAL || ::link(from.constData(), to.constData()) != 0)
                return fail(errno);
            ::unlink(from.constData());
        }
        m_temporary.clear();
        syncFolder();
        return true;
    }

    void cancel() override
    {
        if (m_fd >= 0)
            ::close(std::exchange(m_fd, -1));
        if (!m_temporary.isEmpty())
            ::unlink(native(std::exchange(m_temporary, {})).constData());
    }

    QString failure() const override { return m_failure; }
    QString warning() const override { return m_warning; }

private:
    bool fail(int error)
    {
        if (m_failure.isEmpty())
            m_failure = describe(error);
        return false;
    }

    // The rename itself is on the disk only once its folder is.
    void syncFolder()
    {
        const QString folder = QFileInfo(m_target).absolutePath();
        if (!os::syncFolder(folder)) {
            m_warning =
                QStringLiteral("保存しましたが、フォルダー %1 をディスクに書き込めなかったため、"
                               "停電などでは保存が失われるおそれがあります。\n理由: %2")
                    .arg(QDir::toNativeSeparators(folder), describe(errno));
        }
    }

    QString m_target;
    QString m_temporary;
    Mode m_mode = Mode::Replace;
    int m_fd = -1;
    QString m_failure;
    QString m_warning;
};

// Only the user can put files there, or nobody at all can (root's folders).
bool othersCanWrite(const struct stat &info)
{
    if (info.st_uid != ::geteuid() && info.st_uid != 0)
        return true;
    // A sticky folder (/tmp) keeps others from replacing what is not theirs.
    return (info.st_mode & (S_IWGRP | S_IWOTH)) && !(info.st_mode & S_ISVTX);
}

} // namespace

bool syncFolder(const QString &folder)
{
    const int fd = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int error = fd < 0 ? errno : EINTR;
    while (fd >= 0 && error == EINTR)
        error = ::fsync(fd) == 0 ? 0 : errno;
    if (fd >= 0)
        ::close(fd);
    errno = error;
    // Some file systems cannot sync a folder and say so: nothing is at risk there.
    return !error || error == EINVAL || error == ENOTSUP;
}

QString openRegularFile(QFile &file, qint64 *size)
{
    const QByteArray name = native(file.fileName());
    // Opening some devices does something; such a file is not opened at all.
    struct stat info
    {
    };
    if (::stat(name.constData(), &info) != 0)
        return describe(errno);
    if (!S_ISREG(info.st_mode))
        return notRegular();
    // O_NONBLOCK: had a FIFO taken the file's place meanwhile, open() would
    // wait for a writer for ever.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return describe(errno);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return notRegular();
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return file.errorString();
    }
    if (size)
        *size = info.st_size;
    return {};
}

// As the kernel's protected-symlinks rule does for shared folders, a link is
// followed only when it is the user's own; what it leads to must be the
// user's own regular file. A link planted by another user in a folder that
// user can write to never turns a save into a write over the victim's files.
SaveTarget saveTarget(const QString &path)
{
    const auto refuse = [](const QString &why) {
        return SaveTarget {{}, why};
    };
    const uid_t user = ::geteuid();
    QString at = path;
    for (int links = 0; links <= 40; ++links) {
        struct stat info
        {
        };
        if (::lstat(native(at).constData(), &info) != 0) {
            if (errno == ENOENT && links == 0)
                return {path, {}}; // a new file
            if (errno == ENOENT)
                return refuse(QStringLiteral("リンク先 %1 がありません").arg(at));
            return refuse(describe(errno));
        }
        if (S_ISREG(info.st_mode)) {
            if (info.st_uid != user)
                return refuse(QStringLiteral("ほかのユーザーのファイルです（%1）").arg(at));
            return {at, {}};
        }
        if (!S_ISLNK(info.st_mode))
            return refuse(notRegular() + QStringLiteral("（%1）").arg(at));
        if (info.st_uid != user) {
            return refuse(
                QStringLiteral("ほかのユーザーが置いたシンボリックリンクです（%1）").arg(at));
        }
        const QString target = QFile::symLinkTarget(at);
        if (target.isEmpty())
            return refuse(QStringLiteral("リンク %1 を読めません").arg(at));
        at = target;
    }
    return refuse(QStringLiteral("リンクが多すぎます"));
}

std::unique_ptr<FileReplacer> makeFileReplacer()
{
    return std::make_unique<PosixReplacer>();
}

void removeOwnFile(const QString &path)
{
    struct stat info
    {
    };
    const QByteArray name = native(path);
    if (::lstat(name.constData(), &info) == 0 && S_ISREG(info.st_mode)
        && info.st_uid == ::geteuid())
        ::unlink(name.constData());
}

QString homeFolder()
{
    const QString home = qEnvironmentVariable("HOME");
    if (QDir::isAbsolutePath(home))
        return QDir::cleanPath(home);
    // Started without HOME (a service, a bare "env -i"): the user database knows.
    if (const passwd *user = ::getpwuid(::geteuid()); user && user->pw_dir) {
        const QString fromDatabase = QFile::decodeName(user->pw_dir);
        if (QDir::isAbsolutePath(fromDatabase))
            return QDir::cleanPath(fromDatabase);
    }
    return {};
}

namespace {

QString xdgFolder(const char *variable, const char *underHome)
{
    const QString set = qEnvironmentVariable(variable);
    if (QDir::isAbsolutePath(set))
        return QDir::cleanPath(set);
    const QString home = homeFolder();
    return home.isEmpty() || home == u'/' ? QString() : home + QLatin1String(underHome);
}

} // namespace

QString dataFolder()
{
    return xdgFolder("XDG_DATA_HOME", "/.local/share");
}

QString configFolder()
{
    return xdgFolder("XDG_CONFIG_HOME", "/.config");
}

QString folderOthersCanWrite(const QString &folder)
{
    QString at = QDir::cleanPath(folder);
    while (!at.isEmpty()) {
        struct stat info
        {
        };
        if (::stat(native(at).constData(), &info) == 0 && othersCanWrite(info))
            return at;
        if (at == u'/')
            break;
        at = QFileInfo(at).absolutePath();
    }
    return {};
}

} // namespace himekuri::os
