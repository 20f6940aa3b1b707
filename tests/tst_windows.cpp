// The Windows platform layer, run under Wine: the install folder on the
// current drive, the stacking modes, and the pane's web-browser control.

#include "platform/platform.h"
#include "platform/singleinstance.h"
#include "runtime/webbrowser.h"
#include "startup/datafiles.h"

#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <windows.h>

using namespace himekuri;

class TestWindows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void installFolderIsOnTheCurrentDrive();
    void stackingNeverMovesOrActivates();
    void paneHostsTheSystemsBrowser();
    void paneGivesItsPictureWhereNoBrowserRuns();
    void oneCopyPerSessionByTheKernelsMutex();
    void fullDiskIsSaidInWindowsWords();
};

void TestWindows::installFolderIsOnTheCurrentDrive()
{
    const QString before = QDir::currentPath();
    for (const char *drive : {"C:/", "Z:/tmp"}) {
        QVERIFY(QDir::setCurrent(QLatin1String(drive)));
        QCOMPARE(SystemPlatform().installFolder(),
                 QLatin1String(drive).left(3) + QStringLiteral("Program Files/Tesrava/"));
    }
    // A network share (windows.sh makes one for Wine): the share's top.
    if (const QString share = qEnvironmentVariable("HIMEKURI_SHARE"); !share.isEmpty()) {
        QVERIFY2(QDir::setCurrent(share + QStringLiteral("/a/b")), qPrintable(share));
        QCOMPARE(SystemPlatform().installFolder(),
                 share + QStringLiteral("/Program Files/Tesrava/"));
    }
    QDir::setCurrent(before);
}

void TestWindows::stackingNeverMovesOrActivates()
{
    const SystemPlatform platform;
    QWidget calendar;
    calendar.setGeometry(649, 3, 371, 434);
    platform.keepOffTaskbar(&calendar);
    QWidget other;
    other.setGeometry(100, 100, 300, 200);
    calendar.show();
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&calendar) && QTest::qWaitForWindowExposed(&other));
    const auto hwnd = reinterpret_cast<HWND>(calendar.winId());
    QVERIFY(GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW); // no taskbar button
    other.activateWindow();
    QTRY_VERIFY(other.isActiveWindow());
    const HWND active = GetForegroundWindow();
    const QRect place = calendar.geometry();

    platform.restack(&calendar, StackPlace::TopMost);
    QVERIFY(GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
    platform.restack(&calendar, StackPlace::LeaveTopMost);
    QVERIFY(!(GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST));
    platform.restack(&calendar, StackPlace::Bottom);
    QCOMPARE(GetWindow(hwnd, GW_HWNDNEXT), HWND(nullptr)); // below every window
    QCOMPARE(calendar.geometry(), place);
    QCOMPARE(GetForegroundWindow(), active);
}

void TestWindows::paneHostsTheSystemsBrowser()
{
    QWidget window;
    auto *pane = new WebBrowser(&window);
    pane->setGeometry(0, 0, 249, 81);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QUrl page(QStringLiteral("http://127.0.0.1:9/latest/"));
    pane->Navigate(page.toString());
    QWidget *host = nullptr;
    QTRY_VERIFY((host = pane->findChild<QWidget *>(QStringLiteral("webHost"))));
    QTRY_COMPARE(host->property("navigatedTo").toUrl(), page);
    QVERIFY(FindWindowExW(reinterpret_cast<HWND>(host->winId()), nullptr, L"AtlAxWin", nullptr));
}

void TestWindows::paneGivesItsPictureWhereNoBrowserRuns()
{
    QTemporaryDir dir;
    QImage red(20, 10, QImage::Format_RGB32);
    red.fill(Qt::red);
    const QString picture = dir.filePath(QStringLiteral("dntl.png"));
    QVERIFY(red.save(picture));

    QWidget window;
    auto *pane = new WebBrowser(&window);
    pane->setGeometry(0, 0, 249, 81);
    pane->setHelperProgram(QStringLiteral("Himekuri.NoSuchControl"));
    pane->setFallbackPicture(picture);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot be created")));
    pane->Navigate(QStringLiteral("http://127.0.0.1:9/"));
    QTRY_COMPARE(pane->grab().toImage().pixelColor(5, 5), QColor(Qt::red));
    QVERIFY(!pane->findChild<QWidget *>(QStringLiteral("webHost")));
}

// The session's mutex: held while its holder lives, gone with it.
void TestWindows::oneCopyPerSessionByTheKernelsMutex()
{
    auto first = std::make_unique<SingleInstance>(QStringList {});
    QCOMPARE(first->state(), SingleInstance::State::Alone);
    QVERIFY(first->lockPath().startsWith(QStringLiteral("Local\\himekuri-S-1-")));
    QCOMPARE(SingleInstance({}).state(), SingleInstance::State::AnotherRunning);
    first.reset();
    QCOMPARE(SingleInstance({}).state(), SingleInstance::State::Alone);
}

// A disk with no room left (windows.sh fills one for Wine): Windows' words,
// the one failure users can mend said first, and the old bytes kept.
void TestWindows::fullDiskIsSaidInWindowsWords()
{
    const QString full = qEnvironmentVariable("HIMEKURI_FULL_FOLDER");
    if (full.isEmpty())
        QSKIP("needs a full disk, which windows.sh makes");
    const QString path = full + QStringLiteral("/de.txt");
    QCOMPARE(readFirstLine(path).line, std::optional(QStringLiteral("old")));
    const WriteResult written = replaceContent(path, QString(20000, u'新'));
    QVERIFY2(written.reason.startsWith(QStringLiteral("ディスクの空き容量が足りません（")),
             qPrintable(written.reason));
    QCOMPARE(readFirstLine(path).line, std::optional(QStringLiteral("old")));
    QCOMPARE(QDir(full).entryList(QDir::Files | QDir::Hidden), (QStringList {"de.txt", "filler"}));
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
