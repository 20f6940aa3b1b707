#pragma once

#include <QString>
#include <memory>

class QLockFile;

namespace himekuri {

// One running copy of the program, told by a lock file held for as long as
// the program runs. Only a lock that a live copy on this machine holds keeps
// another copy from running: a lock left over by a dead copy, an empty or
// garbled one, or one from another machine is taken over.
class SingleInstance final
{
public:
    enum class State {
        Alone, // the lock is ours
        AnotherRunning,
        Unknown, // no lock could be made anywhere: see problem()
    };

    // The machine's name as the lock file has it (QLockFile writes the host
    // name on Unix, the computer name on Windows).
    explicit SingleInstance(const QString &machineName);
    ~SingleInstance();

    // Tries to take the lock in the folder. True once the answer is known
    // (ours, or another copy's); false when the lock cannot be made there,
    // so that the next folder can have its turn.
    bool take(const QString &folder);

    State state() const { return m_state; }
    // The lock's file, or where it was first tried.
    QString lockPath() const { return m_path; }
    // Why the lock could not be made.
    QString problem() const { return m_problem; }

    static constexpr char FileName[] = "himekuri.lock";

private:
    std::unique_ptr<QLockFile> m_lock;
    State m_state = State::Unknown;
    QString m_path;
    QString m_problem;
    bool m_tried = false;
    QString m_machine;
};

} // namespace himekuri
