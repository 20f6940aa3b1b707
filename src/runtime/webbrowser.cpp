#include "webbrowser.h"

#include "platform/filesystem.h"
#include "startup/datafiles.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QMouseEvent>
#include <QMovie>
#include <QPainter>
#include <functional>
#include <optional>
#include <utility>

namespace himekuri {

namespace {

bool isPage(const QUrl &url)
{
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return !url.host().isEmpty();
    // A file URL may name a page as well as a picture: the engine shows either.
    return scheme == QLatin1String("file");
}

// Covers the pane for the engine's view. A press that reaches it came before
// the view was there: the page gets it once it is.
class Host final : public QWidget
{
public:
    Host(QWidget *pane, std::function<void(QPoint)> pressed)
        : QWidget(pane)
        , m_pressed(std::move(pressed))
    { }

protected:
    void mousePressEvent(QMouseEvent *event) override { m_pressed(event->position().toPoint()); }

private:
    std::function<void(QPoint)> m_pressed;
};

// A picture larger than this on either side is no picture for a pane of
// 249 x 81 pixels, but a way to make the calendar take hundreds of megabytes.
constexpr int PictureSideBound = 4096;

// A picture is read whole, the one safe way, and decoded from memory: Qt
// opening the path itself would wait for ever on a FIFO in its place.
std::optional<QByteArray> pictureBytes(const QString &path)
{
    if (path.startsWith(u':')) { // built into the program
        QFile resource(path);
        return resource.open(QIODevice::ReadOnly) ? std::optional(resource.readAll())
                                                  : std::nullopt;
    }
    return os::readRegularFile(path, PictureBound).bytes;
}

} // namespace

WebBrowser::WebBrowser(QWidget *parent)
    : QWidget(parent)
    , m_page(Page::make(*this))
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

WebBrowser::~WebBrowser()
{
    m_page->end();
}

void WebBrowser::setHelperProgram(const QString &program)
{
    m_page->setProgram(program);
}

void WebBrowser::setFallbackPicture(const QString &path)
{
    m_fallback = path;
}

void WebBrowser::setStandInPicture(const QString &path)
{
    m_standIn = path;
}

void WebBrowser::Navigate(const QString &target)
{
    // The work is done from the event loop: the caller never waits for a file
    // or an engine, and several calls in a row cost one.
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
    if (!isPage(url)) {
        showPicture(m_target);
        return;
    }
    clearPicture();
    update();
    m_page->show(url);
}

void WebBrowser::showPicture(const QString &path)
{
    m_page->end();
    clearPicture();
    update();

    if (path.isEmpty())
        return;
    // A picture that cannot be shown (missing, not a file, too big, not a
    // picture) gives the one built into the program, not an empty pane.
    if (!loadPicture(path) && !m_standIn.isEmpty())
        loadPicture(m_standIn);
}

bool WebBrowser::loadPicture(const QString &path)
{
    const std::optional<QByteArray> bytes = pictureBytes(path);
    if (!bytes)
        return false;
    auto *buffer = new QBuffer(this);
    buffer->setData(*bytes);
    buffer->open(QIODevice::ReadOnly);
    QImageReader reader(buffer);
    const QSize size = reader.size();
    if (!reader.canRead() || !size.isValid() || size.width() > PictureSideBound
        || size.height() > PictureSideBound) {
        delete buffer;
        return false;
    }
    if (reader.supportsAnimation() && reader.imageCount() != 1) {
        buffer->seek(0);
        m_movie = new QMovie(buffer, reader.format(), this);
        buffer->setParent(m_movie);
        m_movie->setCacheMode(QMovie::CacheNone);
        connect(m_movie, &QMovie::frameChanged, this, [this] { update(); });
        m_movie->start();
        return true;
    }
    const QImage image = reader.read();
    delete buffer;
    if (image.isNull())
        return false;
    m_picture = QPixmap::fromImage(image);
    return true;
}

// The page is tried again by the next Navigate, which a new page of the
// calendar (after a change of day) brings.
void WebBrowser::showFallback()
{
    showPicture(m_fallback);
}

bool WebBrowser::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::Enter:
    case QEvent::Wheel:
        m_page->wake(std::nullopt);
        break;
    case QEvent::MouseButtonPress:
        m_page->wake(static_cast<QMouseEvent *>(event)->position().toPoint());
        break;
    case QEvent::FocusIn: {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason)
            m_page->wake(std::nullopt);
        break;
    }
    default:
        break;
    }
    return QWidget::event(event);
}

void WebBrowser::Page::showStill(WebBrowser &pane, const QImage &picture)
{
    pane.clearPicture();
    pane.m_picture = QPixmap::fromImage(picture);
    pane.m_picture.setDevicePixelRatio(pane.devicePixelRatioF());
    pane.update();
}

void WebBrowser::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_page->paneShown();
}

void WebBrowser::clearPicture()
{
    delete m_movie;
    m_movie = nullptr;
    m_picture = QPixmap();
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

QWidget *WebBrowser::Page::makeHost(WebBrowser &pane)
{
    auto *host = new Host(&pane, [&pane](QPoint press) { pane.m_page->wake(press); });
    host->setObjectName(QStringLiteral("webHost"));
    host->setFocusPolicy(Qt::NoFocus);
    // Only the host is native: a native pane would make every widget beside
    // it native too, and transparent labels drawn over a native neighbour break.
    host->setAttribute(Qt::WA_DontCreateNativeAncestors);
    host->setAttribute(Qt::WA_NativeWindow);
    host->setGeometry(pane.rect());
    host->show();
    return host;
}

} // namespace himekuri
