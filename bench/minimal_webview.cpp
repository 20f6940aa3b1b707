// Floor for the pane benchmark: the least a Qt program does to show a web
// page at the pane's size, one QWebEngineView. The calendar's memory with
// its page is read against this program's.
//
// usage: bench_webview URL
// Writes "loaded" or "failed" on stdout when the page has loaded.
#include <QApplication>
#include <QUrl>
#include <QWebEngineView>
#include <cstdio>

int main(int argc, char *argv[])
{
    // As the calendar's helper starts the engine: no GPU, shared GL contexts.
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains("--disable-gpu"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu " + flags);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: bench_webview URL\n", stderr);
        return 2;
    }

    QWebEngineView view;
    view.setWindowRole(QStringLiteral("Webview"));
    QObject::connect(&view, &QWebEngineView::loadFinished, &view, [](bool ok) {
        std::puts(ok ? "loaded" : "failed");
        std::fflush(stdout);
    });
    view.setUrl(QUrl(QString::fromLocal8Bit(argv[1])));
    // Clear of the calendars' windows (top left and top right).
    view.setGeometry(20, 560, 249, 81);
    view.show();
    return app.exec();
}
