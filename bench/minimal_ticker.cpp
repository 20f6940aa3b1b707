// Floor for the clock benchmark: the least a Qt Widgets program does to show
// a clock, one label whose text a 1000-ms timer changes. himekuri's CPU time
// while it just shows the time is read against this program's.
#include <QApplication>
#include <QLabel>
#include <QTime>
#include <QTimer>

// A function of its own, so that the benchmark can count its calls.
Q_NEVER_INLINE void tick(QLabel &label)
{
    label.setText(QTime::currentTime().toString(QStringLiteral("hh:mm:ss")));
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel label;
    label.setWindowRole(QStringLiteral("Ticker"));
    label.setText(QTime::currentTime().toString(QStringLiteral("hh:mm:ss")));
    // Fixed and away from the calendar's place (top right): a window that
    // overlapped it would make it repaint for reasons of its own.
    label.setFixedSize(200, 40);
    label.move(20, 600);

    QTimer timer;
    timer.setInterval(1000);
    QObject::connect(&timer, &QTimer::timeout, &label, [&label] { tick(label); });
    timer.start();

    label.show();
    return app.exec();
}
