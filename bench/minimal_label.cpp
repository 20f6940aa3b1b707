// Baseline for the start-up benchmark: the least a Qt Widgets program does to
// put one window on the screen. himekuri's figures are read against these.
#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Minimal"));
    // The benchmark driver recognises the window by its role, as it does Form1.
    label.setWindowRole(QStringLiteral("Minimal"));
    label.show();
    return app.exec();
}
