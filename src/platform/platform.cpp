#include "platform.h"

#include "platform/filesystem.h"
#include "startup/datafiles.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>
#include <QWidget>

namespace himekuri {

SystemPlatform::SystemPlatform()
    : SystemPlatform(findInstallFolder())
{ }

SystemPlatform::SystemPlatform(const Folder &folder)
    : m_installFolder(folder.path)
    , m_folderWarning(folder.warning)
    , m_folderProblem(m_installFolder.isEmpty() ? QString() : folderProblem(m_installFolder))
    , m_instance(SingleInstance::sessionFolders(m_installFolder))
{ }

bool SystemPlatform::anotherCopyRunning() const
{
    return m_instance.state() == SingleInstance::State::AnotherRunning;
}

QStringList SystemPlatform::startupWarnings() const
{
    QStringList warnings;
    if (m_installFolder.isEmpty()) {
        warnings << QStringLiteral("ホームフォルダーが見つかりません。伝言板と設定のファイルは"
                                   "読むことも保存することもできません。");
    }
    if (!m_folderWarning.isEmpty())
        warnings << m_folderWarning;
    // Where a user may not write (Program Files, for a program not installed
    // for all users), the calendar runs all the same.
    if (!m_folderProblem.isEmpty()) {
        warnings << QStringLiteral("フォルダー %1 にファイルを作れません。\n理由: %2\n"
                                   "伝言板と設定は保存されませんが、カレンダーはこのまま使えます。")
                        .arg(QDir::toNativeSeparators(m_installFolder), m_folderProblem);
    }
    if (const QString open = os::folderOthersCanWrite(m_installFolder); !open.isEmpty()) {
        warnings << QStringLiteral("フォルダー %1 にはほかのユーザーも書き込めます。"
                                   "ほかのユーザーが伝言板や設定のファイルを置き換えられます。")
                        .arg(QDir::toNativeSeparators(open));
    }
    if (m_instance.state() == SingleInstance::State::Unknown) {
        warnings << QStringLiteral("ほかにカレンダーが起動していないことを確かめられませんでした。"
                                   "\nロックファイル: %1\n理由: %2")
                        .arg(QDir::toNativeSeparators(m_instance.lockPath()), m_instance.problem());
    }
    return warnings;
}

void SystemPlatform::restack(QWidget *window, StackPlace place) const
{
    if (!window->windowHandle())
        return;
    // Qt re-applies its flags (a move, a new native window): they must say
    // what the window system was told.
    Qt::WindowFlags flags = window->windowFlags();
    if (place != StackPlace::LeaveTopMost)
        flags.setFlag(Qt::WindowStaysOnBottomHint, place == StackPlace::Bottom);
    if (place != StackPlace::LeaveBottom)
        flags.setFlag(Qt::WindowStaysOnTopHint, place == StackPlace::TopMost);
    // QWidget::setWindowFlags would hide the window and make a new one.
    window->overrideWindowFlags(flags);
    stack(window, place);
}

// The launcher (xdg-open, the shell) is started detached: the page loads in
// the browser's own time, not the calendar's.
bool SystemPlatform::openInBrowser(const QUrl &url) const
{
    return QDesktopServices::openUrl(url);
}

} // namespace himekuri
