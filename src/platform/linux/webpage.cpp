#include "runtime/webbrowser.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <optional>
#include <unistd.h>
#include <utility>

namespace himekuri {

namespace {

constexpr auto HelperName = "himekuri-web";
// How long a helper whose stdin was closed may take to end before it is killed.
constexpr int HelperGraceMs = 2000;
// A picture of a 249 x 81 pane is a few kilobytes; a helper gone wrong could
// say anything.
constexpr qint64 StillBound = 16 * 1024 * 1024;

QProcessEnvironment helperEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The view goes into a window of the calendar's, so the helper runs on the
    // calendar's window system, XWayland in a Wayland session included.
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // Chromium's sandbox refuses to run as root; only the helper is told so.
    if (::geteuid() == 0)
        env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    return env;
}

// A helper that is missing or cannot run stays so for the whole run: said
// once, not at every page.
void sayOnce(const QString &what)
{
    static bool said = false;
    if (!std::exchange(said, true))
        qWarning("himekuri: %s; the pane shows its picture", qPrintable(what));
}

// Pages shown by the helper program himekuri-web, whose view becomes a child
// of a native window inside the pane. The helper is started on the first
// page, fed later URLs as lines on its stdin, tells of each load on its
// stdout, and is ended by closing that stdin. Once the page stands still it
// hands over a picture of itself and is ended; it is started again, on the
// page it showed, when someone turns to the pane.
class HelperPage final : public WebBrowser::Page
{
public:
    explicit HelperPage(WebBrowser &pane)
        : m_pane(pane)
    { }
    ~HelperPage() override { endHelper(); }

    void setProgram(const QString &program) override { m_program = program; }

    void show(const QUrl &url) override
    {
        m_url = url;
        m_asleep = false;
        if (m_helper) {
            if (m_helperUrl != url)
                m_helper->write(url.toEncoded() + '\n');
            m_helperUrl = url;
            return;
        }
        // The helper needs the pane's native window; a hidden pane starts it when shown.
        if (m_pane.isVisible())
            startHelper();
    }

    void end() override
    {
        endHelper();
        m_url.clear();
        m_asleep = false;
    }

    void wake(std::optional<QPoint> press) override
    {
        // A press may come before the helper's view covers the pane.
        if (m_helper) {
            if (press && !m_loaded)
                m_press = press;
            return;
        }
        if (!m_asleep || !m_pane.isVisible())
            return;
        // Showing the helper's host makes Qt send the pane an Enter of its
        // own: the pane is awake from here on.
        m_asleep = false;
        startHelper();
        m_press = press;
    }

    void paneShown() override
    {
        if (m_url.isEmpty())
            return;
        // After show() has returned, so that the window the host lives in exists.
        QMetaObject::invokeMethod(
            &m_pane, [this] { startHelperAgainIfUnseen(); }, Qt::QueuedConnection);
    }

private:
    void startHelperAgainIfUnseen()
    {
        // New window flags hide the window and give it a new native window
        // when it is shown again. The host's native window, and the helper's
        // view in it, went with the old one, while Qt still takes the host for
        // native: a fresh host and helper take over.
        if (m_helper && (!m_hostWindow || m_hostWindow->winId() != m_hostWindowId))
            endHelper();
        if (!m_helper && !m_asleep && !m_url.isEmpty() && m_pane.isVisible())
            startHelper();
    }

    void startHelper()
    {
        const QString program = helperProgram();
        if (program.isEmpty()) {
            sayOnce(QStringLiteral("%1 was not found").arg(QLatin1String(HelperName)));
            fallBack(m_pane);
            return;
        }

        QWidget *host = makeHost(m_pane);
        m_host = host;
        m_hostWindow = m_pane.window()->windowHandle();
        m_hostWindowId = m_hostWindow ? m_hostWindow->winId() : 0;

        auto *helper = new QProcess(&m_pane);
        helper->setObjectName(QStringLiteral("webHelper"));
        helper->setProcessEnvironment(helperEnvironment());
        // The engine talks a lot on stderr; none of it is for the calendar's user.
        helper->setStandardErrorFile(QProcess::nullDevice());
        QObject::connect(helper, &QProcess::readyReadStandardOutput, &m_pane, [this, helper] {
            if (helper == m_helper)
                readHelper();
        });
        QObject::connect(helper, &QProcess::finished, &m_pane, [this, helper] {
            if (helper == m_helper)
                helperEnded();
        });
        QObject::connect(helper, &QProcess::errorOccurred, &m_pane,
                         [this, helper](QProcess::ProcessError error) {
                             if (helper == m_helper && error == QProcess::FailedToStart)
                                 helperEnded();
                         });
        m_helper = helper;
        m_helperUrl = m_url;
        helper->start(program,
                      {QStringLiteral("--parent"), QString::number(host->winId()),
                       QStringLiteral("--size"),
                       QStringLiteral("%1x%2").arg(m_pane.width()).arg(m_pane.height()),
                       QStringLiteral("--"), QString::fromLatin1(m_url.toEncoded())});
    }

    void readHelper()
    {
        while (m_helper) {
            if (m_stillBytes > 0) {
                if (m_helper->bytesAvailable() < m_stillBytes)
                    return;
                takeStill(m_helper->read(m_stillBytes));
                continue;
            }
            if (!m_helper->canReadLine())
                return;
            const QList<QByteArray> words = m_helper->readLine().trimmed().split(' ');
            if (words[0] == "loaded") {
                m_loaded = true;
                if (const std::optional<QPoint> press = std::exchange(m_press, std::nullopt))
                    m_helper->write(
                        QStringLiteral("click %1 %2\n").arg(press->x()).arg(press->y()).toLatin1());
            } else if (words[0] == "failed") {
                qWarning("himekuri: %s could not be shown; the pane shows its picture",
                         m_helperUrl.toEncoded().constData());
                fallBack(m_pane);
            } else if (words[0] == "picture" && words.size() == 3) {
                m_stillUrl = QUrl::fromEncoded(words[1], QUrl::StrictMode);
                m_stillBytes = std::clamp(words[2].toLongLong(), 1LL, StillBound);
            }
        }
    }

    // The page, drawn as it stood; the engine is of no more use until someone
    // turns to the pane.
    void takeStill(const QByteArray &png)
    {
        m_stillBytes = 0;
        const QImage picture = QImage::fromData(png, "PNG");
        if (picture.isNull())
            return;
        showStill(m_pane, picture);
        if (m_stillUrl.isValid())
            m_url = m_stillUrl;
        endHelper();
        m_asleep = true;
    }

    void helperEnded()
    {
        if (m_helper->error() == QProcess::FailedToStart) {
            sayOnce(QStringLiteral("%1 could not be started (%2)")
                        .arg(m_helper->program(), m_helper->errorString()));
        } else {
            qWarning("himekuri: %s ended (%s, exit code %d); the pane shows its picture",
                     qPrintable(m_helper->program()),
                     m_helper->exitStatus() == QProcess::CrashExit ? "crashed" : "exited",
                     m_helper->exitCode());
        }
        fallBack(m_pane);
    }

    void endHelper()
    {
        // The helper's view goes with the window it was put in.
        delete m_host.data();
        m_hostWindow = nullptr;
        m_loaded = false;
        m_press.reset();
        if (!m_helper)
            return;
        QProcess *helper = m_helper;
        m_helper = nullptr;
        m_helperUrl.clear();
        m_stillBytes = 0;
        QObject::disconnect(helper, nullptr, &m_pane, nullptr);
        // The process outlives the pane for a moment, so that the pane never
        // waits for it: it deletes itself once the helper has ended.
        helper->setParent(nullptr);
        if (helper->state() == QProcess::NotRunning) {
            helper->deleteLater();
            return;
        }
        QObject::connect(helper, &QProcess::finished, helper, &QObject::deleteLater);
        QObject::connect(helper, &QProcess::errorOccurred, helper,
                         [helper](QProcess::ProcessError error) {
                             if (error == QProcess::FailedToStart)
                                 helper->deleteLater();
                         });
        QTimer::singleShot(HelperGraceMs, helper, [helper] { helper->kill(); });
        helper->closeWriteChannel();
    }

    // Beside the calendar in a build tree; where the build installs it,
    // relative to the calendar, once installed.
    QString helperProgram() const
    {
        if (!m_program.isEmpty())
            return m_program;
        const QString dir = QCoreApplication::applicationDirPath();
        return QStandardPaths::findExecutable(
            QLatin1String(HelperName),
            {dir, QDir::cleanPath(dir + u'/' + QLatin1String(HIMEKURI_HELPER_FROM_BINARY))});
    }

    WebBrowser &m_pane;
    QString m_program;
    // The page to show, and the one the running helper was told to show.
    QUrl m_url;
    QUrl m_helperUrl;
    QProcess *m_helper = nullptr;
    // The page stands as a picture in the pane, and no helper runs.
    bool m_asleep = false;
    // A press on the picture, to be made on the page once it is back.
    std::optional<QPoint> m_press;
    // The running helper has drawn its page.
    bool m_loaded = false;
    // A picture of the page on its way from the helper: its bytes still to come.
    qint64 m_stillBytes = 0;
    QUrl m_stillUrl;
    // The native window that holds the helper's view; only it is native, so
    // the pane's neighbours stay ordinary widgets.
    QPointer<QWidget> m_host;
    // The window the host was made in, and its native window then.
    QPointer<QWindow> m_hostWindow;
    WId m_hostWindowId = 0;
};

} // namespace

std::unique_ptr<WebBrowser::Page> WebBrowser::Page::make(WebBrowser &pane)
{
    return std::make_unique<HelperPage>(pane);
}

} // namespace himekuri
