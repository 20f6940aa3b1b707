// A window with the browser pane, driven through stdin, for tests/e2e/web_pane.sh.
// usage: web_pane_probe [FALLBACK]   (the picture shown where a page cannot be)
// The window ("web pane probe", grey, 377x160) holds the pane at 0,0 and a text
// box beside it. Commands on stdin, one a line:
//   navigate TARGET   prints "navigated MS-SINCE-EPOCH RETURN-US"
//   ping              prints "pong N natives=K": K native widgets besides the
//                     window and the helper's host
//   ontop             toggles "stays on top" (a new native window) and shows it again

#include "runtime/webbrowser.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSocketNotifier>
#include <cstdio>
#include <unistd.h>

namespace {

void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    QWidget window;
    window.setWindowTitle(QStringLiteral("web pane probe"));
    window.setFixedSize(377, 160);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(128, 128, 128));
    window.setPalette(palette);
    window.setAutoFillBackground(true);

    auto *pane = new himekuri::WebBrowser(&window);
    pane->setGeometry(0, 0, 249, 81);
    // A neighbour of the pane, which must stay an ordinary widget.
    (new QLineEdit(&window))->setGeometry(260, 10, 100, 30);

    auto navigate = [pane](const QString &target) {
        const qint64 at = QDateTime::currentMSecsSinceEpoch();
        QElapsedTimer took;
        took.start();
        pane->Navigate(target);
        const qint64 returnUs = took.nsecsElapsed() / 1000;
        say(QStringLiteral("navigated %1 %2").arg(at).arg(returnUs));
    };

    int pings = 0;
    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            return;
        }
        pending.append(buffer, n);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(end)).trimmed();
            pending.remove(0, end + 1);
            if (line.startsWith(QLatin1String("navigate "))) {
                navigate(line.mid(9));
            } else if (line == QLatin1String("ping")) {
                int natives = 0;
                for (QWidget *w : window.findChildren<QWidget *>())
                    natives += w->internalWinId() && w->objectName() != QLatin1String("webHost");
                say(QStringLiteral("pong %1 natives=%2").arg(++pings).arg(natives));
            } else if (line == QLatin1String("ontop")) {
                window.setWindowFlags(window.windowFlags() ^ Qt::WindowStaysOnTopHint);
                window.show();
            }
        }
    });

    if (argc > 1)
        pane->setFallbackPicture(QString::fromLocal8Bit(argv[1]));
    window.show();
    return app.exec();
}
