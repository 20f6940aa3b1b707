// The calendar's own windows, run in this process on the real clock, with what
// the clock label shows written down after every tick. The program has no
// hooks for this; the probe listens to the same timer the calendar window
// ticks on. Driven by bench_clock (bench/run.sh BUILD clock).
//
// usage: bench_clock_probe
//
// Writes to stdout, one line each, as it happens:
//   window N                  a calendar window was made and shown (N counts them)
//   tick MS SECOND TEXT       after a tick of that window: the wall clock's
//                             millisecond within its second, the label's time
//                             as seconds since midnight (-1 when unreadable),
//                             the label's text
//   message TEXT              a message box the calendar would have shown
//   finished CODE             the calendar ended itself
// Runs until SIGTERM, SIGINT or SIGHUP, then removes its temporary folders.

#include "calendar/form1.h"
#include "platform/platform.h"
#include "question/form3.h"
#include "runtime/clock.h"
#include "runtime/controls.h"
#include "runtime/layout.h"
#include "runtime/runtime.h"
#include "startup/form2.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

using namespace himekuri;

// Where the probe's calendar window goes: clear of the program's own window
// (top right) and of the splash. Two calendar windows on top of each other
// would keep exposing each other, as each lowers itself after every paint.
constexpr QPoint ProbeWindowPos(0, 0);

void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

// The program's desktop, but with an install folder of the probe's own and
// no browser. Stacking goes to the real window manager, as in the program.
class ProbePlatform final : public Platform
{
public:
    explicit ProbePlatform(const QString &folder)
        : m_folder(folder)
    { }

    QString installFolder() const override { return m_folder; }
    // The lock the system platform takes is in the probe's own runtime
    // folder, so it says nothing about a copy of the program.
    bool anotherCopyRunning() const override { return false; }
    QStringList startupWarnings() const override { return {}; }
    void restack(QWidget *window, StackPlace place) const override
    {
        m_system.restack(window, place);
    }
    void keepOffTaskbar(QWidget *window) const override { m_system.keepOffTaskbar(window); }
    bool openInBrowser(const QUrl &) const override { return false; }
    bool otherProgramActive() const override { return false; }

private:
    QString m_folder;
    SystemPlatform m_system;
};

// "hh時mm分ss秒A" / "...P" on a 12-hour dial where 12 stands for 0.
int secondOfDay(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d\\d)時(\\d\\d)分(\\d\\d)秒([AP])$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return -1;
    const int hour = m.captured(1).toInt();
    const int minute = m.captured(2).toInt();
    const int second = m.captured(3).toInt();
    if (hour < 1 || hour > 12 || minute > 59 || second > 59)
        return -1;
    const int hour24 = hour % 12 + (m.captured(4) == QLatin1String("P") ? 12 : 0);
    return hour24 * 3600 + minute * 60 + second;
}

// Follows the calendar window through its reloads: every load makes a new
// window with a new timer, which is caught as it is shown.
class TickRecorder final : public QObject
{
public:
    explicit TickRecorder(Form &calendar)
        : m_calendar(calendar)
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // isLoaded() first: window() would load a form that is not.
        if (event->type() == QEvent::Show && m_calendar.isLoaded() && watched == m_calendar.window()
            && watched != m_window) {
            attach(m_calendar.window());
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void attach(QWidget *window)
    {
        m_window = window;
        // Still before the window is mapped, so it never appears elsewhere.
        window->move(ProbeWindowPos);
        auto *timer = window->findChild<QTimer *>(QStringLiteral("Timer1"));
        QPointer<Label> clock = window->findChild<Label *>(QStringLiteral("Label1"));
        say(QStringLiteral("window %1").arg(++m_windows));
        if (!timer || !clock) {
            say(QStringLiteral("message the calendar window has no Timer1 or Label1"));
            return;
        }
        // Connected after the form's own handler, so it runs after it and
        // reads what that tick put on the label.
        connect(timer, &QTimer::timeout, this, [clock] {
            if (!clock)
                return;
            const int ms = QDateTime::currentDateTime().time().msec();
            const QString text = clock->caption();
            say(QStringLiteral("tick %1 %2 %3").arg(ms).arg(secondOfDay(text)).arg(text));
        });
    }

    Form &m_calendar;
    QPointer<QWidget> m_window;
    int m_windows = 0;
};

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char *argv[])
{
    // The single-instance lock goes to a runtime folder of the probe's own,
    // so that the program, started beside it, does not take it for a copy.
    const QString pattern = QDir::tempPath() + QStringLiteral("/bench_clock_probe-XXXXXX");
    QTemporaryDir runtimeFolder(pattern);
    QTemporaryDir installRoot(pattern);
    if (!runtimeFolder.isValid() || !installRoot.isValid()) {
        std::fputs("bench_clock_probe: cannot make temporary folders\n", stderr);
        return 1;
    }
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeFolder.path()));

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("himekuri"));
    QApplication::setQuitOnLastWindowClosed(false);
    installFontSubstitutes();

    // The first-run question is already answered: no question, no network.
    const QString folder = installRoot.path() + QStringLiteral("/.local/share/himekuri/");
    QDir().mkpath(folder);
    QFile choice(folder + QStringLiteral("or.txt"));
    if (!choice.open(QIODevice::WriteOnly) || choice.write("N") != 1) {
        std::fputs("bench_clock_probe: cannot write or.txt\n", stderr);
        return 1;
    }
    choice.close();

    if (pipe(signalPipe) != 0) {
        std::perror("bench_clock_probe: pipe");
        return 1;
    }
    // exit(), not quit(): quit() first asks every window to close, which the
    // calendar window refuses, and nothing would end.
    QSocketNotifier stopRequest(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopRequest, &QSocketNotifier::activated, &app, [&stopRequest] {
        stopRequest.setEnabled(false);
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &action, nullptr);

    SystemClock clock;
    ProbePlatform platform(folder);
    Runtime runtime(clock, platform);
    auto &calendar = runtime.addForm(std::make_unique<Form1>(runtime));
    auto &splash = runtime.addForm(std::make_unique<Form2>(runtime));
    runtime.addForm(std::make_unique<Form3>(runtime));
    runtime.setMessageBoxHandler([](const QString &text, Runtime::MessageKind) {
        say(QStringLiteral("message ")
            + QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')));
        return false;
    });
    QObject::connect(&runtime, &Runtime::finished, &app, [](int code) {
        say(QStringLiteral("finished %1").arg(code));
        QCoreApplication::exit(code);
    });

    TickRecorder recorder(calendar);
    runtime.invoke([&splash] { splash.show(); });
    if (runtime.hasEnded())
        return 0;
    return app.exec();
}
