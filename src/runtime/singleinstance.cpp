#include "singleinstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QThread>
#include <cerrno>

namespace himekuri {

namespace {

enum class Outcome { Taken, Held, CannotMake };

// Long enough for a copy that is starting to write its lock, which takes
// microseconds; short enough to go unnoticed at a start.
constexpr int WriteGraceMs = 100;
constexpr int TakeOverWaitMs = 1000;

// No copy on this machine holds a lock that names no process (empty,
// garbled, a folder) or a process of another machine. Qt itself only takes
// over the lock of a dead process of this machine. A lock file that cannot
// even be opened is held: Windows keeps it closed to all but its holder.
bool isLeftOver(const QLockFile &lock, const QString &path, const QString &machine)
{
    if (QFileInfo(path).isDir())
        return true;
    if (QFile file(path); !file.open(QIODevice::ReadOnly))
        return false;
    qint64 pid = 0;
    QString host;
    QString application;
    if (!lock.getLockInfo(&pid, &host, &application))
        return true;
    return host != machine;
}

QString describe(QLockFile::LockError error, int systemError)
{
    if (systemError)
        return qt_error_string(systemError);
    return error == QLockFile::PermissionError
        ? QStringLiteral("ロックファイルを作る権限がありません")
        : QStringLiteral("ロックファイルを作れませんでした");
}

Outcome takeLock(QLockFile &lock, const QString &path, const QString &machine, QString &problem)
{
    const auto cannotMake = [&] {
        problem = describe(lock.error(), errno);
        return Outcome::CannotMake;
    };
    errno = 0;
    if (lock.tryLock(0))
        return Outcome::Taken;
    if (lock.error() != QLockFile::LockFailedError)
        return cannotMake();
    if (!isLeftOver(lock, path, machine))
        return Outcome::Held;

    // Two copies must not both take the same left-over lock over: one at a
    // time, behind a second lock of the ordinary kind.
    QLockFile guard(path + QStringLiteral(".takeover"));
    guard.setStaleLockTime(0);
    if (!guard.tryLock(TakeOverWaitMs)) {
        problem = QStringLiteral("残っていたロックファイルを引き継げませんでした");
        return Outcome::CannotMake;
    }
    // Meanwhile another copy may have taken it, or may be writing its own.
    if (lock.tryLock(0))
        return Outcome::Taken;
    if (lock.error() != QLockFile::LockFailedError)
        return cannotMake();
    QThread::msleep(WriteGraceMs);
    if (!isLeftOver(lock, path, machine))
        return Outcome::Held;
    lock.removeStaleLockFile();
    errno = 0;
    if (lock.tryLock(0))
        return Outcome::Taken;
    if (lock.error() == QLockFile::LockFailedError && !isLeftOver(lock, path, machine))
        return Outcome::Held;
    // A folder at the lock's place, or a file that cannot be removed.
    problem = isLeftOver(lock, path, machine)
        ? QStringLiteral("残っていたロックファイルを消せませんでした")
        : describe(lock.error(), errno);
    return Outcome::CannotMake;
}

} // namespace

SingleInstance::SingleInstance(const QString &machineName)
    : m_problem(QStringLiteral("ロックファイルを置けるフォルダーがありません"))
    , m_machine(machineName)
{ }

bool SingleInstance::take(const QString &folder)
{
    if (m_state != State::Unknown)
        return true;
    const QString path = QDir(folder).filePath(QLatin1String(FileName));
    auto lock = std::make_unique<QLockFile>(path);
    // Never by age: a calendar runs for months. A dead holder is seen by its pid.
    lock->setStaleLockTime(0);
    QString problem;
    switch (takeLock(*lock, path, m_machine, problem)) {
    case Outcome::Taken:
        m_lock = std::move(lock);
        m_state = State::Alone;
        break;
    case Outcome::Held:
        m_state = State::AnotherRunning;
        break;
    case Outcome::CannotMake:
        // The first place tried is the one to tell the user about.
        if (!m_tried) {
            m_path = path;
            m_problem = problem;
        }
        m_tried = true;
        return false;
    }
    m_path = path;
    return true;
}

SingleInstance::~SingleInstance() = default;

} // namespace himekuri
