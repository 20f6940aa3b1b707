#include "platform/singleinstance.h"

#include "platform/filesystem.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace himekuri {

namespace {

// How long a start waits, at most, while another moves something out of
// the lock's way: that takes microseconds.
constexpr int GuardWaitMs = 1000;
constexpr int GuardPollMs = 5;

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

// The user's own folder, where no other user can lay anything at the lock's
// place in advance, nor swap the folder itself.
bool isPrivateFolder(const QString &path)
{
    struct stat info
    {
    };
    return QDir::isAbsolutePath(path) && ::stat(native(path).constData(), &info) == 0
        && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid()
        && os::folderOthersCanWrite(path).isEmpty();
}

struct Opened
{
    int fd = -1;
    int error = 0;
    bool inTheWay = false; // something no copy of ours made, which cannot be locked
};

// The lock is any file or folder at its place that can be opened for
// reading; its content means nothing. Opened without following a link and
// without waiting, and never a FIFO, socket or device, whose opening may do
// something.
Opened openLock(const QByteArray &path)
{
    constexpr int Flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    for (int attempt = 0; attempt < 4; ++attempt) {
        struct stat info
        {
        };
        int fd = -1;
        if (::lstat(path.constData(), &info) != 0) {
            if (errno != ENOENT)
                return {-1, errno, false};
            fd = ::open(path.constData(), Flags | O_CREAT, 0600);
        } else if (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)) {
            fd = ::open(path.constData(), Flags);
            // The user's own file that the user cannot read: readable again.
            if (fd < 0 && errno == EACCES && info.st_uid == ::geteuid()
                && ::chmod(path.constData(), S_ISDIR(info.st_mode) ? 0700 : 0600) == 0)
                continue;
            if (fd < 0 && errno == EACCES)
                return {-1, EACCES, true}; // another user's
        } else {
            return {-1, 0, true};
        }
        if (fd < 0) {
            // Replaced meanwhile (by a link, or removed): look again.
            if (errno == ELOOP || errno == ENOENT || errno == EEXIST)
                continue;
            return {-1, errno, false};
        }
        if (::fstat(fd, &info) == 0 && (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)))
            return {fd, 0, false};
        ::close(fd);
        return {-1, 0, true};
    }
    return {-1, EAGAIN, false};
}

// Moves what is in the lock's way aside, renamed, not deleted: it is not the
// program's to delete. One start at a time, behind a lock on the folder
// itself, so that a second start that found the same thing in the way never
// moves the lock that the first has put in its place.
bool moveAside(const QString &folder, QString &problem)
{
    const int dir = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        problem = qt_error_string(errno);
        return false;
    }
    bool guarded = false;
    for (int waited = 0; !guarded && waited <= GuardWaitMs; waited += GuardPollMs) {
        guarded = ::flock(dir, LOCK_EX | LOCK_NB) == 0;
        if (!guarded)
            QThread::msleep(GuardPollMs);
    }
    bool moved = false;
    if (guarded) {
        const QByteArray name = SingleInstance::FileName;
        const Opened opened = openLock(native(QDir(folder).filePath(QString::fromLatin1(name))));
        if (opened.fd >= 0) {
            ::close(opened.fd); // someone else moved it meanwhile
            moved = true;
        } else if (opened.inTheWay) {
            const QByteArray aside =
                name + ".in-the-way-" + QByteArray::number(QRandomGenerator::global()->generate());
            moved = ::renameat(dir, name.constData(), dir, aside.constData()) == 0;
            if (!moved)
                problem = qt_error_string(errno);
        } else {
            moved = true; // gone: the next look will tell
        }
        ::flock(dir, LOCK_UN);
    } else {
        problem =
            QStringLiteral("フォルダー %1 がほかのプログラムにロックされたままです").arg(folder);
    }
    ::close(dir);
    return moved;
}

} // namespace

SingleInstance::SingleInstance(const QStringList &folders)
    : m_problem(QStringLiteral("ロックファイルを置けるフォルダーがありません"))
{
    for (const QString &folder : folders) {
        const QString path = QDir(folder).filePath(QLatin1String(FileName));
        QString problem;
        // A folder is made only when its turn comes.
        if (!QDir().mkpath(folder) || !isPrivateFolder(folder))
            problem = QStringLiteral("フォルダー %1 はほかのユーザーも書き込めるか、作れません")
                          .arg(folder);
        for (int attempt = 0; attempt < 3 && m_state == State::Unknown && problem.isEmpty();
             ++attempt) {
            const Opened opened = openLock(native(path));
            if (opened.fd >= 0) {
                if (::flock(opened.fd, LOCK_EX | LOCK_NB) == 0) {
                    m_handle = opened.fd; // held until the process ends
                    m_state = State::Alone;
                } else if (errno == EWOULDBLOCK) {
                    ::close(opened.fd);
                    m_state = State::AnotherRunning;
                } else {
                    problem = qt_error_string(errno);
                    ::close(opened.fd);
                }
            } else if (!opened.inTheWay) {
                problem = qt_error_string(opened.error);
            } else if (!moveAside(folder, problem) && problem.isEmpty()) {
                problem = QStringLiteral("ロックの場所にあるものを動かせません");
            }
        }
        if (m_state != State::Unknown || m_path.isEmpty()) {
            m_path = path;
            m_problem = problem;
        }
        if (m_state != State::Unknown)
            return;
    }
    if (m_path.isEmpty())
        m_path = QStringLiteral("/run/user/%1/%2").arg(::geteuid()).arg(QLatin1String(FileName));
    if (m_problem.isEmpty())
        m_problem = QStringLiteral("ロックファイルを作れませんでした");
}

SingleInstance::~SingleInstance()
{
    if (m_handle >= 0)
        ::close(int(m_handle));
}

// The session's runtime folder: the one the environment names, else the one
// the login manager makes for every session, which a start whose environment
// lacks the variable finds all the same. Else a folder of the calendar's own
// in the user's cache, else the data folder.
QStringList SingleInstance::sessionFolders(const QString &dataFolder)
{
    QStringList folders;
    const auto add = [&folders](const QString &folder) {
        if (!folders.contains(folder))
            folders << folder;
    };
    if (const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR"); isPrivateFolder(runtime))
        add(QDir::cleanPath(runtime));
    if (const QString session = QStringLiteral("/run/user/%1").arg(::geteuid());
        isPrivateFolder(session))
        add(session);
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (const QString home = os::homeFolder(); !QDir::isAbsolutePath(cache) && !home.isEmpty())
        cache = home + QStringLiteral("/.cache");
    if (QDir::isAbsolutePath(cache))
        add(QDir::cleanPath(cache + QStringLiteral("/himekuri")));
    if (QDir::isAbsolutePath(dataFolder))
        add(QDir::cleanPath(dataFolder));
    return folders;
}

} // namespace himekuri
