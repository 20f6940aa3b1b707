#pragma once

#include "singleinstance.h"

#include <QString>
#include <QStringList>

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

    // The folder holding the data files, ending with a separator; empty when
    // the user has no home folder to put it in.
    virtual QString installFolder() const = 0;

    // Fixed when the program started: whether another copy was running then.
    virtual bool anotherCopyRunning() const = 0;

    // What the user should hear once the calendar is up: trouble found at
    // the start that the program lives with.
    virtual QStringList startupWarnings() const = 0;

    // For a top-level window that has been shown.
    virtual void restack(QWidget *window, StackPlace place) const = 0;

    // A window that belongs to the desktop: no taskbar or pager entry. Call
    // before the window is first shown.
    virtual void keepOffTaskbar(QWidget *window) const = 0;

    // Hands the page to the user's own browser and returns at once; false when
    // no browser could be started.
    virtual bool openInBrowser(const QUrl &url) const = 0;

    // Whether a window of another program has the keyboard now: the user is
    // at work elsewhere.
    virtual bool otherProgramActive() const = 0;
};

// The window system plugin to ask for before the application exists, or
// null: the stacking modes need X11, so the program runs on X11 or XWayland
// whatever platform the environment names. Given as an argument, not through
// the environment, so that the programs the calendar starts (the user's
// browser) run where they like.
const char *preferredPlatformPlugin();

// Why the calendar cannot show itself at all (no display to connect to), in
// Japanese and English; empty when it can.
QString windowSystemProblem();

// The platform this program was built for; takes the single-instance lock.
class SystemPlatform final : public Platform
{
public:
    SystemPlatform();

    QString installFolder() const override { return m_installFolder; }
    bool anotherCopyRunning() const override;
    QStringList startupWarnings() const override;
    void restack(QWidget *window, StackPlace place) const override;
    void keepOffTaskbar(QWidget *window) const override;
    bool openInBrowser(const QUrl &url) const override;
    bool otherProgramActive() const override;

private:
    // The data folder and what the user should hear of it.
    struct Folder
    {
        QString path;
        QString warning;
    };
    explicit SystemPlatform(const Folder &folder);
    static Folder findInstallFolder();
    // The window system's side of restack(); Qt's flags already say the same.
    void stack(QWidget *window, StackPlace place) const;

    QString m_installFolder;
    QString m_folderWarning;
    QString m_folderProblem;
    SingleInstance m_instance;
};

} // namespace himekuri
