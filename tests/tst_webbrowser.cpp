#include "runtime/webbrowser.h"

#include <QFile>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using himekuri::WebBrowser;

namespace {

constexpr QSize PaneSize(249, 81);
// Generous bounds for a helper to start and end: reaching them means a hang.
constexpr int ProcessTimeoutMs = 60000;

const QColor Red(Qt::red), Blue(Qt::blue), White(Qt::white);

// 20x10, one frame, all red.
const QByteArray StillGif = QByteArray(
    "\x47\x49\x46\x38\x37\x61\x14\x00\x0a\x00\x81\x00\x00\xff\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x2c\x00\x00\x00\x00\x14\x00\x0a\x00\x00\x08\x19\x00\x01\x08\x1c\x48\xb0\xa0\xc1\x83"
    "\x08\x13\x2a\x5c\xc8\xb0\xa1\xc3\x87\x10\x23\x4a\x9c\xa8\x30\x20\x00\x3b",
    64);

// 20x10, a red frame shown for ten minutes, then a blue one.
const QByteArray AnimatedGif = QByteArray(
    "\x47\x49\x46\x38\x39\x61\x14\x00\x0a\x00\x81\x00\x00\xff\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x21\xff\x0b\x4e\x45\x54\x53\x43\x41\x50\x45\x32\x2e\x30\x03\x01\x00\x00\x00\x21\xf9"
    "\x04\x00\x60\xea\x00\x00\x2c\x00\x00\x00\x00\x14\x00\x0a\x00\x00\x08\x19\x00\x01\x08\x1c\x48"
    "\xb0\xa0\xc1\x83\x08\x13\x2a\x5c\xc8\xb0\xa1\xc3\x87\x10\x23\x4a\x9c\xa8\x30\x20\x00\x21\xf9"
    "\x04\x00\x0a\x00\x00\x00\x2c\x00\x00\x00\x00\x14\x00\x0a\x00\x81\x00\x00\xff\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x00\x08\x19\x00\x01\x08\x1c\x48\xb0\xa0\xc1\x83\x08\x13\x2a\x5c\xc8\xb0\xa1"
    "\xc3\x87\x10\x23\x4a\x9c\xa8\x30\x20\x00\x3b",
    149);

QColor pixel(QWidget *w, int x, int y)
{
    return w->grab().toImage().pixelColor(x, y);
}

bool allWhite(QWidget *w)
{
    const QImage image = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != qRgb(255, 255, 255))
                return false;
        }
    }
    return true;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// Navigates and delivers the pane's queued work: the helper has been started, or has failed to.
void navigateAndLetItStart(WebBrowser *pane, const QString &target)
{
    pane->Navigate(target);
    QCoreApplication::sendPostedEvents(pane, QEvent::MetaCall);
}

// A window like the calendar's: the pane at the top-left.
struct PaneWindow
{
    QWidget window;
    WebBrowser *pane;

    PaneWindow()
        : pane(new WebBrowser(&window))
    {
        window.resize(377, 160);
        pane->setGeometry(QRect(QPoint(0, 0), PaneSize));
    }

    QProcess *helper() const { return pane->findChild<QProcess *>(QStringLiteral("webHelper")); }
    bool showWith(const QString &helperProgram)
    {
        pane->setHelperProgram(helperProgram);
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }
};

} // namespace

class TestWebBrowser : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_red; // a still red picture

    // A stand-in for himekuri-web: records its arguments, then does what
    // BEHAVIOUR says (a piece of shell; its reports to the pane go to fd 3).
    QString fakeHelper(const QString &name, const QString &behaviour = QStringLiteral("exec cat"))
    {
        const QString path = m_dir.filePath(name);
        const QString script = QStringLiteral("#!/bin/sh\n"
                                              "printf '%s\\n' \"$@\" > \"$0.args\"\n"
                                              "exec 3>&1 >/dev/null\n")
            + behaviour + QLatin1Char('\n');
        if (!writeFile(path, script.toUtf8()))
            return {};
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(QFile::exists(QStringLiteral(HIMEKURI_WEB_HELPER)), HIMEKURI_WEB_HELPER);
        m_red = m_dir.filePath(QStringLiteral("still.gif"));
        QVERIFY(writeFile(m_red, StillGif));
    }

    // --- local pictures: drawn by the pane itself -----------------------

    void pictureAtNaturalSizeFromTopLeft_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("gif") << "red.gif" << StillGif;
        QTest::newRow("animated gif shows its first frame") << "anim.gif" << AnimatedGif;
        // The calendar's own picture has a path with a space in it.
        QTest::newRow("path with a space") << "Program Files red.gif" << StillGif;
        QTest::newRow("content decides, not the suffix") << "red.jpg" << StillGif;
    }

    void pictureAtNaturalSizeFromTopLeft()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, data);
        const QString path = m_dir.filePath(fileName);
        QVERIFY(writeFile(path, data));
        PaneWindow w;
        w.pane->Navigate(path);
        QTRY_COMPARE(pixel(w.pane, 0, 0), Red);
        QCOMPARE(pixel(w.pane, 19, 9), Red);
        // Not stretched: right of and below the picture is the empty pane.
        QCOMPARE(pixel(w.pane, 20, 5), White);
        QCOMPARE(pixel(w.pane, 5, 10), White);
        QCOMPARE(w.pane->internalWinId(), WId(0));

        // A larger one is cut off, not scaled: red up to 199, blue from 200.
        QImage large(400, 200, QImage::Format_RGB32);
        large.fill(Blue);
        QPainter(&large).fillRect(0, 0, 200, 150, Red);
        QVERIFY(large.save(m_dir.filePath(QStringLiteral("large.png"))));
        w.pane->Navigate(m_dir.filePath(QStringLiteral("large.png")));
        QTRY_COMPARE(pixel(w.pane, 199, 80), Red);
        QCOMPARE(pixel(w.pane, 200, 5), Blue);
    }

    void unusablePictureLeavesThePaneEmpty_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("missing") << m_dir.filePath(QStringLiteral("no such.gif"));
        QTest::newRow("folder") << m_dir.path();
        QTest::newRow("empty target") << QString();
        QTest::newRow("not a picture") << m_dir.filePath(QStringLiteral("text.gif"));
        QTest::newRow("other scheme") << QStringLiteral("ftp://127.0.0.1/x.gif");
    }

    void unusablePictureLeavesThePaneEmpty()
    {
        QFETCH(QString, target);
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("text.gif")), "<img src=x>"));
        PaneWindow w;
        w.window.show();
        // Of several navigations in a row, the last one counts.
        w.pane->Navigate(target);
        w.pane->Navigate(m_red);
        QTRY_COMPARE(pixel(w.pane, 5, 5), Red);
        // What was shown before goes away too.
        w.pane->Navigate(target);
        QTRY_VERIFY(allWhite(w.pane));
        QVERIFY(!w.helper());
    }

    void navigateRunsNoEventLoop_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("picture") << m_red;
        QTest::newRow("web page") << QStringLiteral("http://127.0.0.1:9/");
    }

    void navigateRunsNoEventLoop()
    {
        QFETCH(QString, target);
        PaneWindow w;
        QVERIFY(w.showWith(fakeHelper(QStringLiteral("loop-helper"))));
        // What was posted before the call still waits: it ran no events, started no process.
        bool eventsRan = false;
        QTimer::singleShot(0, &w.window, [&eventsRan] { eventsRan = true; });
        w.pane->Navigate(target);
        QVERIFY(!eventsRan);
        QVERIFY(!w.helper());
        QTRY_VERIFY(eventsRan);
    }

    // --- web pages, with a stand-in helper -----------------------------

    void webPageStartsTheHelperInANativeHost()
    {
        const QString helper = fakeHelper(QStringLiteral("start-helper"));
        PaneWindow w;
        w.pane->setHelperProgram(helper);
        // A hidden pane has nowhere to put the page: the helper waits for it.
        w.pane->Navigate(QStringLiteral("http://127.0.0.1:9/a b?q=1#f"));
        QCoreApplication::processEvents();
        QVERIFY(!w.helper());
        w.window.show();
        QTRY_VERIFY(w.helper());
        auto *host = w.pane->findChild<QWidget *>(QStringLiteral("webHost"));
        QVERIFY(host && host->internalWinId());
        QCOMPARE(host->focusPolicy(), Qt::NoFocus);
        QTRY_COMPARE(
            QString::fromUtf8(contents(helper + QStringLiteral(".args")))
                .split(u'\n', Qt::SkipEmptyParts),
            QStringList({QStringLiteral("--parent"), QString::number(host->winId()),
                         QStringLiteral("--size"), QStringLiteral("249x81"), QStringLiteral("--"),
                         QStringLiteral("http://127.0.0.1:9/a%20b?q=1#f")}));
    }

    void destroyingThePaneEndsTheHelper_data()
    {
        QTest::addColumn<QString>("behaviour");
        QTest::addColumn<bool>("stubborn");
        QTest::newRow("ends when its stdin closes") << QStringLiteral("exec cat") << false;
        // Never reads stdin and never ends by itself.
        QTest::newRow("ignores the end") << QStringLiteral("exec sleep 600") << true;
    }

    void destroyingThePaneEndsTheHelper()
    {
        QFETCH(QString, behaviour);
        QFETCH(bool, stubborn);
        auto *w = new PaneWindow;
        QVERIFY(w->showWith(
            fakeHelper(QStringLiteral("end-helper-") + QTest::currentDataTag(), behaviour)));
        w->pane->Navigate(QStringLiteral("http://127.0.0.1:9/"));
        QTRY_VERIFY(w->helper() && w->helper()->state() == QProcess::Running);
        QPointer<QProcess> helper = w->helper();
        delete w;
        // The pane never waits for its helper; a stubborn one is killed a little later.
        if (stubborn)
            QCOMPARE(helper->state(), QProcess::Running);
        QTRY_VERIFY_WITH_TIMEOUT(helper.isNull(), ProcessTimeoutMs);
    }

    void pageThatCannotBeShownGivesThePicture_data()
    {
        QTest::addColumn<QString>("behaviour");
        QTest::addColumn<QString>("warning");
        QTest::newRow("load fails")
            << QStringLiteral("echo failed >&3; exec cat") << QStringLiteral("could not be shown");
        QTest::newRow("crashes") << QStringLiteral("kill -SEGV $$") << QStringLiteral("crashed");
        QTest::newRow("exits") << QStringLiteral("exit 3") << QStringLiteral("exit code 3");
        QTest::newRow("cannot be started") << QString() << QStringLiteral("could not be started");
        QTest::newRow("the real helper, with nowhere to show the page")
            << QStringLiteral(HIMEKURI_WEB_HELPER) << QStringLiteral("exit code 2");
    }

    void pageThatCannotBeShownGivesThePicture()
    {
        QFETCH(QString, behaviour);
        QFETCH(QString, warning);
        const QString helper = behaviour.isEmpty()
            ? m_dir.filePath(QStringLiteral("no-such-helper"))
            : behaviour.startsWith(u'/')
            ? behaviour
            : fakeHelper(QStringLiteral("failing-helper-") + QTest::currentDataTag(), behaviour);
        PaneWindow w;
        w.pane->setFallbackPicture(m_red);
        QVERIFY(w.showWith(helper));
        for (int attempt = 0; attempt < 2; ++attempt) { // tried again by the next Navigate
            const QRegularExpression said(QRegularExpression::escape(warning));
            // A helper that cannot start at all is said once a run, not at every page.
            if (attempt == 0 || !behaviour.isEmpty())
                QTest::ignoreMessage(QtWarningMsg, said);
            else
                QTest::failOnWarning(said);
            navigateAndLetItStart(w.pane, QStringLiteral("http://127.0.0.1:9/"));
            QTRY_VERIFY_WITH_TIMEOUT(!w.helper(), ProcessTimeoutMs);
            QVERIFY(!w.pane->findChild<QWidget *>(QStringLiteral("webHost")));
            QTRY_COMPARE(pixel(w.pane, 5, 5), Red);
        }
    }

    // A page that stands still is handed over as a picture and its helper
    // ends; a press on the picture, or Tab, brings the page back on the
    // address it showed, and the press is made on the page.
    void stillPageStandsInForItsHelper()
    {
        QImage still(PaneSize, QImage::Format_RGB32);
        for (int i = 0; i < PaneSize.width() * PaneSize.height(); ++i)
            still.setPixel(i % PaneSize.width(), i / PaneSize.width(),
                           qRgb(i % 256, i / 97, i % 13));
        const QString png = m_dir.filePath(QStringLiteral("still.png"));
        QVERIFY(still.save(png));
        const QString helper = fakeHelper(
            QStringLiteral("still-helper"),
            QStringLiteral(
                "echo loaded >&3\n"
                "[ -e \"$0.woken\" ] && read -r line && echo \"$line\" >> \"$0.got\"\n"
                "touch \"$0.woken\"\n"
                "printf 'picture http://127.0.0.1:9/followed %s\\n' $(stat -c %s '%1') >&3\n"
                "cat '%1' >&3\n"
                "exec cat >> \"$0.got\"")
                .arg(png));
        PaneWindow w;
        QVERIFY(w.showWith(helper));
        w.pane->Navigate(QStringLiteral("http://127.0.0.1:9/first"));
        QTRY_VERIFY(w.helper());
        QTRY_VERIFY_WITH_TIMEOUT(!w.helper(), ProcessTimeoutMs);
        QCOMPARE(w.pane->grab().toImage().convertToFormat(QImage::Format_RGB32), still);

        QTest::mousePress(w.pane, Qt::LeftButton, {}, QPoint(30, 20));
        QTRY_VERIFY(w.helper());
        QTRY_VERIFY_WITH_TIMEOUT(!w.helper(), ProcessTimeoutMs);
        QCOMPARE(contents(helper + QStringLiteral(".got")), QByteArray("click 30 20\n"));
        QVERIFY(
            contents(helper + QStringLiteral(".args")).endsWith("\nhttp://127.0.0.1:9/followed\n"));

        for (const Qt::FocusReason reason : {Qt::MouseFocusReason, Qt::TabFocusReason}) {
            QFocusEvent focus(QEvent::FocusIn, reason);
            QCoreApplication::sendEvent(w.pane, &focus);
            QCoreApplication::processEvents();
            QCOMPARE(bool(w.helper()), reason == Qt::TabFocusReason);
        }
        QPointer<QProcess> last = w.helper();
        w.pane->Navigate(QString());
        QTRY_VERIFY_WITH_TIMEOUT(last.isNull(), ProcessTimeoutMs);
    }
};

QTEST_MAIN(TestWebBrowser)
#include "tst_webbrowser.moc"
