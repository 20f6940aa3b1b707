#pragma once

#include <QPixmap>
#include <QUrl>
#include <QWidget>
#include <memory>
#include <optional>

class QMovie;

namespace himekuri {

// The embedded browser pane.
//
// A local picture is drawn by the pane itself at its natural size. A web page
// is shown in a native child window of the pane by the platform's web engine
// (the Page): on Linux the helper program himekuri-web, so that the
// calendar's own process never loads the big and slow engine; on Windows the
// system's web-browser control. A page that cannot be shown gives the
// fallback picture.
class WebBrowser final : public QWidget
{
    Q_OBJECT

public:
    explicit WebBrowser(QWidget *parent = nullptr);
    ~WebBrowser() override;

    // Shows a web page (an http, https or file URL) or a local picture (any
    // other target is taken as a file path, as a Windows path such as
    // "C:\x.gif" would be). Returns at once; the content arrives later.
    void Navigate(const QString &target);

    // What shows pages: the helper program (by default himekuri-web next to
    // the calendar's binary or in ../libexec/himekuri/ from there), or on
    // Windows the control's program id (by default Shell.Explorer.2).
    void setHelperProgram(const QString &program);

    // What the pane shows where a page cannot be shown: no network, an
    // unknown host, an error status, an engine that cannot run.
    void setFallbackPicture(const QString &path);
    // What it shows where a picture cannot be shown.
    void setStandInPicture(const QString &path);

    // The web engine's side, one per platform.
    class Page;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void showTarget();
    void showPicture(const QString &path);
    bool loadPicture(const QString &path);
    void showFallback();
    void clearPicture();

    QString m_target;
    bool m_targetPending = false;
    QPixmap m_picture;
    QMovie *m_movie = nullptr;
    QString m_fallback;
    QString m_standIn;
    std::unique_ptr<Page> m_page;
};

// The engine's side of the pane. It shows pages in a native child window of
// the pane, and gives up to the fallback picture when it cannot.
class WebBrowser::Page
{
public:
    static std::unique_ptr<Page> make(WebBrowser &pane);
    virtual ~Page() = default;

    virtual void setProgram(const QString &program) = 0;
    // Returns at once; the pane is shown or not.
    virtual void show(const QUrl &url) = 0;
    // The pane shows a picture, or goes.
    virtual void end() = 0;
    // The pane's window was shown, perhaps as a new native window.
    virtual void paneShown() = 0;
    // Someone turns to the pane: a page left as a picture comes back, and a
    // press (a point in the pane) that came before the page did is made on it.
    virtual void wake(std::optional<QPoint> press) = 0;

protected:
    static void fallBack(WebBrowser &pane) { pane.showFallback(); }
    // The page as it stood, pixel for pixel, while the engine is away.
    static void showStill(WebBrowser &pane, const QImage &picture);
    // A native child window over the whole pane, for the engine's view.
    static QWidget *makeHost(WebBrowser &pane);
};

} // namespace himekuri
