#pragma once

#include <QString>
#include <QStringList>

namespace himekuri {

// One running copy of the program per user session, told by a lock that the
// operating system holds for as long as the copy lives and drops when it
// ends, however it ends: a kernel file lock on Linux, a named mutex of the
// user's session on Windows. Nothing is ever left over to judge or take over,
// so no process id, host name or age is looked at.
class SingleInstance final
{
public:
    enum class State {
        Alone, // the lock is ours
        AnotherRunning,
        Unknown, // no lock could be made anywhere: see problem()
    };

    // Takes the lock in the first of the folders that can hold one (Linux);
    // Windows keeps it in the session and needs no folder.
    explicit SingleInstance(const QStringList &folders);
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // Where this user's lock lives, the same folders whatever the environment
    // of the start says, as long as it is the same session; the data folder
    // is the last resort.
    static QStringList sessionFolders(const QString &dataFolder);

    State state() const { return m_state; }
    // The lock that was taken or found held, or the first place tried.
    QString lockPath() const { return m_path; }
    // Why no lock could be made.
    QString problem() const { return m_problem; }

    static constexpr char FileName[] = "himekuri.lock";

private:
    State m_state = State::Unknown;
    QString m_path;
    QString m_problem;
    qintptr m_handle = -1; // the descriptor or handle that holds the lock
};

} // namespace himekuri
