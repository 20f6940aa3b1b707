#pragma once

#include <QString>
#include <memory>

class QLockFile;

namespace himekuri {

// What differs between desktops: where the install folder is and how a second
// copy of the program is told apart. One implementation per platform, chosen
// at build time; tests use their own.
class Platform
{
public:
    virtual ~Platform() = default;

    // The folder holding the data files, ending with a separator.
    virtual QString installFolder() const = 0;

    // Fixed when the program started: whether another copy was running then.
    virtual bool anotherCopyRunning() const = 0;
};

// The platform this program was built for; takes the single-instance lock.
class SystemPlatform final : public Platform
{
public:
    SystemPlatform();
    ~SystemPlatform() override;

    QString installFolder() const override;
    bool anotherCopyRunning() const override { return m_anotherCopyRunning; }

private:
    static QString lockPath();

    std::unique_ptr<QLockFile> m_lock;
    bool m_anotherCopyRunning;
};

} // namespace himekuri
