// himekuri-web: shows web pages for the calendar's browser pane, in a process
// of its own so that the calendar never loads the web engine.
//
// usage: himekuri-web --parent WINDOW-ID --size WIDTHxHEIGHT [--] URL
//
// The view becomes a child of the pane's native window WINDOW-ID. Lines read
// from stdin: a further URL to show, or "click X Y", a press the pane took
// before the page was shown, to be made on the page. The end of stdin ends the
// program, so it never outlives the calendar that started it. Lines written
// to stdout: "loaded" once a page has loaded and drawn (the view is shown
// only then), "failed" for a page that cannot be shown, and, once the page
// has stayed still for a while with nobody using it,
// "picture ADDRESS BYTES" followed by that many bytes of PNG: the view as it
// stands. The engine is then of no more use; the calendar ends the program.

#include "shared/translations.h"

#include <QApplication>
#include <QBuffer>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineScript>
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

// A loaded page is shown once its pictures have stayed the same this long:
// the engine may still be white for a moment after it says "loaded".
constexpr qint64 SettleMs = 300;
// A page that nobody uses and that has not changed for this long is handed
// over as a picture.
constexpr qint64 StillMs = 3000;
// A page that keeps changing (an animation, a ticker) is handed over all the
// same after this long without input: a minute shows a notice to anyone who
// looks, and the engine's 200 MB are not kept for a moving ornament all day.
constexpr qint64 LiveLimitMs = 60000;

// Watches the view: when it has drawn, when it is in use, when it stands still.
class Pane final : public QObject
{
public:
    explicit Pane(QWebEngineView *view)
        : m_view(view)
    {
        QObject::connect(view->page(), &QWebEnginePage::loadingChanged, this,
                         [this](const QWebEngineLoadingInfo &loading) { loadingChanged(loading); });
        m_poll.callOnTimeout(this, &Pane::look);
        qApp->installEventFilter(this);
        m_clock.start();
    }

    void readStdin()
    {
        ::fcntl(STDIN_FILENO, F_SETFL, ::fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
        // The helper runs on Linux only, where a pipe can be watched.
        auto *notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        QObject::connect(notifier, &QSocketNotifier::activated, this, [this, notifier] {
            char chunk[4096];
            ssize_t n = 0;
            while ((n = ::read(STDIN_FILENO, chunk, sizeof chunk)) > 0)
                m_pending.append(chunk, n);
            for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
                const QByteArray line = m_pending.left(end);
                m_pending.remove(0, end + 1);
                command(line);
            }
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                notifier->setEnabled(false);
                // exit(), not quit(): quit() may be refused by the view's window.
                QCoreApplication::exit(0);
            }
        });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::Enter:
        case QEvent::Leave:
            if (watched->isWidgetType())
                m_lastUse = m_clock.elapsed();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void command(const QByteArray &line)
    {
        const QList<QByteArray> words = line.trimmed().split(' ');
        if (words.size() == 3 && words[0] == "click") {
            replayClick(QPoint(words[1].toInt(), words[2].toInt()));
            return;
        }
        const QUrl url = urlFromCaller(line);
        if (url.isValid())
            m_view->setUrl(url);
    }

    void loadingChanged(const QWebEngineLoadingInfo &loading)
    {
        if (loading.status() == QWebEngineLoadingInfo::LoadSucceededStatus) {
            m_settling = !m_view->isVisible();
            m_changed = m_clock.elapsed();
            m_poll.start(m_settling ? 50 : 500);
        } else if (loading.status() == QWebEngineLoadingInfo::LoadFailedStatus) {
            // No error page of the engine's: the calendar shows its picture instead.
            m_poll.stop();
            m_view->hide();
            std::cout << "failed" << std::endl;
        }
    }

    void look()
    {
        const qint64 now = m_clock.elapsed();
        const QImage picture = m_view->grab().toImage();
        if (picture != m_picture) {
            m_picture = picture;
            m_changed = now;
        }
        if (m_settling) {
            if (now - m_changed < SettleMs)
                return;
            m_settling = false;
            m_liveSince = now;
            m_view->show();
            m_poll.start(500);
            std::cout << "loaded" << std::endl;
            return;
        }
        if (m_view->underMouse() || hasUse(now))
            return;
        const qint64 quiet = now - std::max(m_changed, m_lastUse);
        const qint64 live = now - std::max(m_liveSince, m_lastUse);
        if (quiet >= StillMs || live >= LiveLimitMs)
            handOver();
    }

    bool hasUse(qint64 now) const { return m_lastUse >= 0 && now - m_lastUse < StillMs; }

    void handOver()
    {
        m_poll.stop();
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        m_picture.save(&buffer, "PNG");
        std::cout << "picture " << m_view->url().toEncoded().constData() << ' ' << png.size()
                  << '\n';
        std::cout.write(png.constData(), png.size());
        std::cout.flush();
    }

    // A press made on the freshly shown view is dropped by the engine for a
    // moment, with no word: the page is clicked from inside instead, which
    // follows the link (or runs the handler) at that point.
    void replayClick(QPoint at)
    {
        m_lastUse = m_clock.elapsed();
        m_view->page()->runJavaScript(
            QStringLiteral("(function (x, y) {"
                           "  const target = document.elementFromPoint(x, y);"
                           "  if (target) target.click();"
                           "})(%1, %2)")
                .arg(at.x())
                .arg(at.y()),
            QWebEngineScript::ApplicationWorld);
    }

    QWebEngineView *m_view;
    QTimer m_poll;
    QElapsedTimer m_clock;
    QByteArray m_pending;
    QImage m_picture;
    bool m_settling = false;
    qint64 m_changed = 0;
    qint64 m_liveSince = 0;
    qint64 m_lastUse = -1;
};

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
    Pane pane(view);
    pane.readStdin();
    const int code = app.exec();
    delete view;
    return code;
}
