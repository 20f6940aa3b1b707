#pragma once

#include <QPixmap>
#include <QPointer>
#include <QUrl>
#include <QWidget>

class QMovie;
class QWindow;
class QProcess;

namespace himekuri {

// The embedded browser pane.
//
// A local picture is drawn by the pane itself at its natural size. A web page
// is shown by the helper program himekuri-web, whose view is a child of a
// native window inside the pane: the web engine is big and slow to start, so
// the calendar's own process never loads it. The helper is started on the
// first web page, fed later URLs as lines on its stdin, and ended by closing
// that stdin when the pane no longer shows a page or is destroyed.
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

    // The helper program; by default found next to the calendar's binary or
    // in ../libexec/himekuri/ from there.
    void setHelperProgram(const QString &path);

    // What the pane shows where a page cannot be shown: no network, an
    // unknown host, an error status, a helper that cannot run.
    void setFallbackPicture(const QString &path);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void showTarget();
    void showPicture(const QString &path);
    void showPage(const QUrl &url);
    void startHelper();
    void startHelperIfShown();
    void startHelperAgainIfUnseen();
    void helperEnded();
    void readHelper();
    void showFallback();
    void endHelper();
    void clearPicture();
    QString helperProgram() const;

    QString m_target;
    bool m_targetPending = false;

    QPixmap m_picture;
    QMovie *m_movie = nullptr;

    // The page to show, and the one the running helper was told to show.
    QUrl m_pageUrl;
    QUrl m_helperUrl;
    QProcess *m_helper = nullptr;
    // The native window that holds the helper's view; only it is native, so
    // the pane's neighbours stay ordinary widgets.
    QPointer<QWidget> m_host;
    // The window the host was made in, and its native window then.
    QPointer<QWindow> m_hostWindow;
    WId m_hostWindowId = 0;
    QString m_helperProgram;
    QString m_fallback;
};

} // namespace himekuri
