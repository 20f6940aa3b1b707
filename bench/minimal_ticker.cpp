// Floor for the clock benchmark: the least a Qt Widgets program does to show
// a clock, one label whose text a 1000-ms timer changes. himekuri's CPU time
// while it just shows the time is read against this program's.
#include <QApplication>
#include <QLabel>
#include <QTime>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel label;
    label.setWindowRole(QStringLiteral("Ticker"));
    const auto tick = [&label] {
        label.setText(QTime::currentTime().toString(QStringLiteral("hh:mm:ss")));
    };
    tick();
    // Fixed and away from the calendar's place (top right): a window that
    // overlapped it would make it repaint for reasons of its own.
    label.setFixedSize(200, 40);
    label.move(20, 600);

    QTimer timer;
    timer.setInterval(1000);
    QObject::connect(&timer, &QTimer::timeout, &label, tick);
    timer.start();

    label.show();
    return app.exec();
}
