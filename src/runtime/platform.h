#pragma once

#include <QString>
#include <memory>

class QLockFile;
class QUrl;
class QWidget;

namespace himekuri {

// Places in the stacking order. Moving there never moves, resizes or
// activates the window and leaves it shown.
enum class StackPlace {
    Bottom, // below every other window, and kept there by the window manager
    LeaveBottom, // an ordinary window again, where it is now
    TopMost, // into the band kept above all other windows
    LeaveTopMost, // out of that band
};

// What differs between desktops: where the install folder is, how a second
// copy of the program is told apart, how windows are stacked and how web pages
// reach the user's browser. One implementation per platform, chosen at build
// time; tests use their own.
class Platform
{
public:
    virtual ~Platform() = default;

    // The folder holding the data files, ending with a separator.
    virtual QString installFolder() const = 0;

    // Fixed when the program started: whether another copy was running then.
    virtual bool anotherCopyRunning() const = 0;

    // For a top-level window that has been shown.
    virtual void restack(QWidget *window, StackPlace place) const = 0;

    // A window that belongs to the desktop: no taskbar or pager entry. Call
    // before the window is first shown.
    virtual void keepOffTaskbar(QWidget *window) const = 0;

    // Hands the page to the user's own browser and returns at once; false when
    // no browser could be started.
    virtual bool openInBrowser(const QUrl &url) const = 0;
};

// Picks the window system plugin before the application exists: the stacking
// modes need X11, so a Wayland session runs the program on XWayland.
void choosePlatformPlugin();

// The platform this program was built for; takes the single-instance lock.
class SystemPlatform final : public Platform
{
public:
    SystemPlatform();
    ~SystemPlatform() override;

    QString installFolder() const override;
    bool anotherCopyRunning() const override { return m_anotherCopyRunning; }
    void restack(QWidget *window, StackPlace place) const override;
    void keepOffTaskbar(QWidget *window) const override;
    bool openInBrowser(const QUrl &url) const override;

private:
    static QString lockPath();

    std::unique_ptr<QLockFile> m_lock;
    bool m_anotherCopyRunning;
};

} // namespace himekuri
