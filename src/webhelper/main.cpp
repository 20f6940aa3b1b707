// himekuri-web: shows web pages for the calendar's browser pane, in a process
// of its own so that the calendar never loads the web engine.
//
// usage: himekuri-web --parent WINDOW-ID --size WIDTHxHEIGHT [--] URL
//
// The view becomes a child of the pane's native window WINDOW-ID. Each line
// read from stdin is a further URL to show; the end of stdin ends the program,
// so it never outlives the calendar that started it. Each load ends in a line
// on stdout, "loaded" or "failed"; the view is shown only while a page loaded.

#include "shared/translations.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QUrl>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWindow>
#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace {

enum ExitCode { Done = 0, BadArguments = 1, CannotEmbed = 2 };

// Chromium reads its switches from the environment before the engine starts.
void addChromiumFlags()
{
    // The pane is tiny and often runs where there is no GPU (Xvfb, remote
    // desktops): software drawing is enough and spares the GPU's share of memory.
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains("--disable-gpu"))
        flags.prepend("--disable-gpu ");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
}

// Should the view's window be made anew all the same, the new one is put
// back into the pane.
class KeepInPane final : public QObject
{
public:
    KeepInPane(QWidget *view, QWindow *pane)
        : m_pane(pane)
    {
        view->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::WinIdChange) {
            QWindow *window = static_cast<QWidget *>(watched)->windowHandle();
            if (window && window->parent() != m_pane)
                window->setParent(m_pane);
        }
        return false;
    }

private:
    QWindow *m_pane;
};

QUrl urlFromCaller(const QByteArray &text)
{
    return QUrl::fromEncoded(text.trimmed(), QUrl::StrictMode);
}

// The caller's lines, read as they come on stdin, which the event loop
// watches (the helper runs on Linux only, where a pipe can be watched); the
// end of stdin ends the program.
void readUrlsFromStdin(QWebEngineView *view)
{
    ::fcntl(STDIN_FILENO, F_SETFL, ::fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    auto *notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, view);
    auto *pending = new QByteArray;
    QObject::connect(notifier, &QSocketNotifier::activated, view, [view, notifier, pending] {
        char chunk[4096];
        ssize_t n = 0;
        while ((n = ::read(STDIN_FILENO, chunk, sizeof chunk)) > 0)
            pending->append(chunk, n);
        for (qsizetype end = pending->indexOf('\n'); end >= 0; end = pending->indexOf('\n')) {
            const QUrl url = urlFromCaller(pending->left(end));
            pending->remove(0, end + 1);
            if (url.isValid())
                view->setUrl(url);
        }
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            notifier->setEnabled(false);
            delete pending;
            // exit(), not quit(): quit() may be refused by the view's window.
            QCoreApplication::exit(0);
        }
    });
}

} // namespace

int main(int argc, char *argv[])
{
    addChromiumFlags();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("himekuri-web"));
    himekuri::installJapaneseQtTexts(app);
    // The view's window is a child of another program's window: it is never
    // "closed", only ended with stdin.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    const QCommandLineOption parentOption(QStringLiteral("parent"),
                                          QStringLiteral("Native window to show the page in."),
                                          QStringLiteral("window-id"));
    const QCommandLineOption sizeOption(QStringLiteral("size"),
                                        QStringLiteral("Size of the view in pixels."),
                                        QStringLiteral("WIDTHxHEIGHT"));
    parser.addOption(parentOption);
    parser.addOption(sizeOption);
    parser.addPositionalArgument(QStringLiteral("url"), QStringLiteral("The page to show."));
    parser.process(app);

    bool idOk = false;
    const WId parentId = parser.value(parentOption).toULongLong(&idOk, 0);
    const QRegularExpressionMatch size =
        QRegularExpression(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$"))
            .match(parser.value(sizeOption));
    const QStringList positional = parser.positionalArguments();
    if (!idOk || !size.hasMatch() || positional.size() != 1) {
        std::cerr << qPrintable(parser.helpText());
        return BadArguments;
    }

    // Fails (with Qt's own warning) on platforms that cannot adopt another
    // program's window, such as offscreen or Wayland.
    QWindow *parentWindow = QWindow::fromWinId(parentId);
    if (!parentWindow)
        return CannotEmbed;

    // Off the record: nothing of the pages (cookies, cache) is written to disk.
    QWebEngineProfile profile;
    auto *view = new QWebEngineView;
    // The page belongs to the view, which is deleted before the profile.
    view->setPage(new QWebEnginePage(&profile, view));
    view->page()->settings()->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    view->setContextMenuPolicy(Qt::NoContextMenu);
    // Loading first makes the view add the widget it draws the page in; the
    // window made afterwards is then of the kind that widget needs. Made
    // before, it would be replaced by a new one, and the new one is no
    // child of the pane.
    view->setUrl(urlFromCaller(positional.first().toUtf8()));
    view->setAttribute(Qt::WA_NativeWindow);
    view->winId();
    view->windowHandle()->setParent(parentWindow);
    KeepInPane keepInPane(view, parentWindow);
    view->setGeometry(0, 0, size.captured(1).toInt(), size.captured(2).toInt());
    // No error page of the engine's: the calendar shows its picture instead.
    QObject::connect(view->page(), &QWebEnginePage::loadingChanged, view,
                     [view](const QWebEngineLoadingInfo &loading) {
                         if (loading.status() == QWebEngineLoadingInfo::LoadSucceededStatus) {
                             view->show();
                             std::cout << "loaded" << std::endl;
                         } else if (loading.status() == QWebEngineLoadingInfo::LoadFailedStatus) {
                             view->hide();
                             std::cout << "failed" << std::endl;
                         }
                     });

    readUrlsFromStdin(view);
    const int code = app.exec();
    delete view;
    return code;
}
