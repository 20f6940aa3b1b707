#include "webbrowser.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImageReader>
#include <QMovie>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>

#if defined(Q_OS_UNIX)
#include <unistd.h>
#endif

namespace himekuri {

namespace {

constexpr auto HelperName = "himekuri-web";
// How long a helper whose stdin was closed may take to end before it is killed.
constexpr int HelperGraceMs = 2000;

bool isPage(const QUrl &url)
{
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return !url.host().isEmpty();
    // A file URL may name a page as well as a picture: the engine shows either.
    return scheme == QLatin1String("file");
}

QProcessEnvironment helperEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The view goes into a window of the calendar's, so the helper runs on the
    // calendar's window system, XWayland in a Wayland session included.
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
#if defined(Q_OS_UNIX)
    // Chromium's sandbox refuses to run as root; only the helper is told so.
    if (::geteuid() == 0)
        env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
#endif
    return env;
}

} // namespace

WebBrowser::WebBrowser(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

WebBrowser::~WebBrowser()
{
    endHelper();
}

void WebBrowser::setHelperProgram(const QString &path)
{
    m_helperProgram = path;
}

void WebBrowser::setFallbackPicture(const QString &path)
{
    m_fallback = path;
}

void WebBrowser::Navigate(const QString &target)
{
    // The work is done from the event loop: the caller never waits for a file
    // or a process, and several calls in a row cost one.
    m_target = target;
    if (m_targetPending)
        return;
    m_targetPending = true;
    QMetaObject::invokeMethod(this, &WebBrowser::showTarget, Qt::QueuedConnection);
}

void WebBrowser::showTarget()
{
    m_targetPending = false;
    const QUrl url(m_target.trimmed());
    if (isPage(url))
        showPage(url);
    else
        showPicture(m_target);
}

void WebBrowser::showPicture(const QString &path)
{
    endHelper();
    m_pageUrl.clear();
    clearPicture();
    update();

    if (path.isEmpty())
        return;
    QImageReader reader(path);
    if (!reader.canRead())
        return; // A missing or unreadable picture leaves the pane empty.
    if (reader.supportsAnimation() && reader.imageCount() != 1) {
        m_movie = new QMovie(path, QByteArray(), this);
        m_movie->setCacheMode(QMovie::CacheNone);
        connect(m_movie, &QMovie::frameChanged, this, [this] { update(); });
        m_movie->start();
        return;
    }
    const QImage image = reader.read();
    if (!image.isNull())
        m_picture = QPixmap::fromImage(image);
}

void WebBrowser::showPage(const QUrl &url)
{
    clearPicture();
    update();
    m_pageUrl = url;
    if (m_helper) {
        if (m_helperUrl != url)
            m_helper->write(url.toEncoded() + '\n');
        m_helperUrl = url;
        return;
    }
    // The helper needs the pane's native window; a hidden pane starts it when shown.
    if (isVisible())
        startHelper();
}

void WebBrowser::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_pageUrl.isEmpty())
        return;
    // After show() has returned, so that the window the host lives in exists.
    QMetaObject::invokeMethod(this, &WebBrowser::startHelperAgainIfUnseen, Qt::QueuedConnection);
}

void WebBrowser::startHelperAgainIfUnseen()
{
    // New window flags hide the window and give it a new native window when
    // it is shown again. The host's native window, and the helper's view in
    // it, went with the old one, while Qt still takes the host for native:
    // a fresh host and helper take over.
    if (m_helper && (!m_hostWindow || m_hostWindow->winId() != m_hostWindowId))
        endHelper();
    startHelperIfShown();
}

void WebBrowser::startHelperIfShown()
{
    if (!m_helper && !m_pageUrl.isEmpty() && isVisible())
        startHelper();
}

void WebBrowser::startHelper()
{
    const QString program = helperProgram();
    if (program.isEmpty()) {
        qWarning("himekuri: %s was not found; the pane shows its picture", HelperName);
        showFallback();
        return;
    }

    auto *host = new QWidget(this);
    host->setObjectName(QStringLiteral("webHost"));
    host->setFocusPolicy(Qt::NoFocus);
    // Only the host is native: a native pane would make every widget beside
    // it native too, and transparent labels drawn over a native neighbour break.
    host->setAttribute(Qt::WA_DontCreateNativeAncestors);
    host->setAttribute(Qt::WA_NativeWindow);
    host->setGeometry(rect());
    host->show();
    m_host = host;
    m_hostWindow = window()->windowHandle();
    m_hostWindowId = m_hostWindow ? m_hostWindow->winId() : 0;

    auto *helper = new QProcess(this);
    helper->setObjectName(QStringLiteral("webHelper"));
    helper->setProcessEnvironment(helperEnvironment());
    // The engine talks a lot on stderr; none of it is for the calendar's user.
    helper->setStandardErrorFile(QProcess::nullDevice());
    connect(helper, &QProcess::readyReadStandardOutput, this, [this, helper] {
        if (helper == m_helper)
            readHelper();
    });
    connect(helper, &QProcess::finished, this, [this, helper] {
        if (helper == m_helper)
            helperEnded();
    });
    connect(helper, &QProcess::errorOccurred, this, [this, helper](QProcess::ProcessError error) {
        if (helper == m_helper && error == QProcess::FailedToStart)
            helperEnded();
    });
    m_helper = helper;
    m_helperUrl = m_pageUrl;
    helper->start(program,
                  {QStringLiteral("--parent"), QString::number(host->winId()),
                   QStringLiteral("--size"), QStringLiteral("%1x%2").arg(width()).arg(height()),
                   QStringLiteral("--"), QString::fromLatin1(m_pageUrl.toEncoded())});
}

void WebBrowser::readHelper()
{
    while (m_helper && m_helper->canReadLine()) {
        if (m_helper->readLine().trimmed() == "failed") {
            qWarning("himekuri: %s could not be shown; the pane shows its picture",
                     m_helperUrl.toEncoded().constData());
            showFallback();
        }
    }
}

// The page is tried again by the next Navigate, which a new page of the
// calendar (after a change of day) brings.
void WebBrowser::showFallback()
{
    showPicture(m_fallback);
}

void WebBrowser::helperEnded()
{
    if (m_helper->error() == QProcess::FailedToStart) {
        qWarning("himekuri: %s could not be started (%s); the pane shows its picture",
                 qPrintable(m_helper->program()), qPrintable(m_helper->errorString()));
    } else {
        qWarning("himekuri: %s ended (%s, exit code %d); the pane shows its picture",
                 qPrintable(m_helper->program()),
                 m_helper->exitStatus() == QProcess::CrashExit ? "crashed" : "exited",
                 m_helper->exitCode());
    }
    showFallback();
}

void WebBrowser::endHelper()
{
    // The helper's view goes with the window it was put in.
    delete m_host.data();
    m_hostWindow = nullptr;
    if (!m_helper)
        return;
    QProcess *helper = m_helper;
    m_helper = nullptr;
    m_helperUrl.clear();
    disconnect(helper, nullptr, this, nullptr);
    // The process outlives the pane for a moment, so that the pane never
    // waits for it: it deletes itself once the helper has ended.
    helper->setParent(nullptr);
    if (helper->state() == QProcess::NotRunning) {
        helper->deleteLater();
        return;
    }
    connect(helper, &QProcess::finished, helper, &QObject::deleteLater);
    connect(helper, &QProcess::errorOccurred, helper, [helper](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            helper->deleteLater();
    });
    QTimer::singleShot(HelperGraceMs, helper, [helper] { helper->kill(); });
    helper->closeWriteChannel();
}

void WebBrowser::clearPicture()
{
    delete m_movie;
    m_movie = nullptr;
    m_picture = QPixmap();
}

QString WebBrowser::helperProgram() const
{
    if (!m_helperProgram.isEmpty())
        return m_helperProgram;
    const QString dir = QCoreApplication::applicationDirPath();
    return QStandardPaths::findExecutable(
        QLatin1String(HelperName),
        {dir, QDir::cleanPath(dir + QLatin1String("/../libexec/himekuri"))});
}

void WebBrowser::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // An empty pane is a blank page, which is white whatever the desktop's colours.
    painter.fillRect(rect(), Qt::white);
    // Natural size from the top-left corner; the pane cuts off the rest.
    if (m_movie)
        painter.drawPixmap(0, 0, m_movie->currentPixmap());
    else if (!m_picture.isNull())
        painter.drawPixmap(0, 0, m_picture);
}

} // namespace himekuri
