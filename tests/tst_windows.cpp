// The Windows platform layer, run under Wine: the install folder on the
// current drive, the stacking modes, and the pane's web-browser control.

#include "runtime/platform.h"
#include "runtime/singleinstance.h"
#include "runtime/webbrowser.h"

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
};

void TestWindows::installFolderIsOnTheCurrentDrive()
{
    const QString before = QDir::currentPath();
    for (const char *drive : {"C:/", "Z:/tmp"}) {
        QVERIFY(QDir::setCurrent(QLatin1String(drive)));
        QCOMPARE(SystemPlatform().installFolder(),
                 QLatin1String(drive).left(3) + QStringLiteral("Program Files/Tesrava/"));
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

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
