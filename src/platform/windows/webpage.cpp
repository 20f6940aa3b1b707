#include "runtime/webbrowser.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <exdisp.h>
#include <exdispid.h>
#include <functional>
#include <initguid.h> // before the COM headers: their interface ids are defined here
#include <ocidl.h>
#include <optional>
#include <string>
#include <utility>
#include <windows.h>

namespace himekuri {

namespace {

// Windows' own web-browser control, hosted by ATL in a plain child window.
constexpr auto DefaultControl = L"Shell.Explorer.2";

// How often a loaded page is looked at, to see whether it still changes.
constexpr int LookMs = 500;
// A page that nobody uses and that has not changed for this long is kept as
// a picture, and the control, with its tens of megabytes, is let go.
constexpr qint64 StillMs = 3000;
// A page that keeps changing (an animation, a ticker) is kept as a picture
// all the same after this long without input.
constexpr qint64 LiveLimitMs = 60000;
// PrintWindow's flag for what DirectComposition draws too (Windows 8.1 on);
// the headers define it only for builds aimed at 8.1 and later.
constexpr UINT RenderFullContent = 0x00000002;

HWND hwnd(const QWidget *widget)
{
    return widget ? reinterpret_cast<HWND>(widget->winId()) : nullptr;
}

bool isPageAddress(const QUrl &url)
{
    const QString scheme = url.scheme();
    return url.isValid()
        && (scheme == QLatin1String("http") || scheme == QLatin1String("https")
            || scheme == QLatin1String("file"));
}

// What a drawing API gives when it drew nothing: every pixel black.
bool isBlank(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        if (std::any_of(line, line + image.width(),
                        [](QRgb pixel) { return (pixel & 0xffffff) != 0; }))
            return false;
    }
    return true;
}

using AtlAxWinInit = BOOL(WINAPI *)();
using AtlAxGetControl = HRESULT(WINAPI *)(HWND, IUnknown **);

// atl.dll is looked up when a page is first shown, not when the program
// starts: a system without it still shows the calendar and its picture.
struct Atl
{
    AtlAxGetControl getControl = nullptr;
    bool ready = false;

    template<class F> static F function(HMODULE module, const char *name)
    {
        return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(module, name)));
    }

    static const Atl &get()
    {
        static const Atl atl = [] {
            Atl a;
            if (HMODULE module = LoadLibraryW(L"atl.dll")) {
                const auto init = function<AtlAxWinInit>(module, "AtlAxWinInit");
                a.getControl = function<AtlAxGetControl>(module, "AtlAxGetControl");
                a.ready = init && a.getControl && init();
            }
            return a;
        }();
        return atl;
    }
};

// Listens to the control for a navigation that failed (no network, an
// unknown host, an error status) and for a document that has loaded (the
// page's or one of its frames', told by the frame's browser object).
class Events final : public IDispatch
{
public:
    Events(std::function<void()> failed, std::function<void(IDispatch *)> completed)
        : m_failed(std::move(failed))
        , m_completed(std::move(completed))
    { }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **object) override
    {
        if (id == IID_IUnknown || id == IID_IDispatch || id == DIID_DWebBrowserEvents2) {
            *object = static_cast<IDispatch *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS *params, VARIANT *,
                                     EXCEPINFO *, UINT *) override
    {
        if (id == DISPID_NAVIGATEERROR && m_failed) {
            m_failed();
        } else if (id == DISPID_DOCUMENTCOMPLETE && m_completed && params && params->cArgs == 2) {
            // The arguments come last first: the frame, then the address.
            const VARIANT &frame = params->rgvarg[1];
            if (frame.vt == VT_DISPATCH && frame.pdispVal)
                m_completed(frame.pdispVal);
        }
        return S_OK;
    }
    void forget()
    {
        m_failed = nullptr;
        m_completed = nullptr;
    }

private:
    std::function<void()> m_failed;
    std::function<void(IDispatch *)> m_completed;
    ULONG m_references = 1;
};

// Pages shown by the system's web-browser control in a native child window of
// the pane. Once a loaded page stands still it is kept as a picture and the
// control is let go; the control comes back, on the page it showed, when
// someone turns to the pane.
class ControlPage final : public WebBrowser::Page
{
public:
    explicit ControlPage(WebBrowser &pane)
        : m_pane(pane)
    {
        m_look.callOnTimeout(&m_pane, [this] { look(); });
        m_clock.start();
    }
    ~ControlPage() override { endControl(); }

    void setProgram(const QString &program) override { m_program = program; }

    void show(const QUrl &url) override
    {
        m_url = url;
        m_asleep = false;
        m_press.reset();
        // Watched again once the new page has loaded.
        m_look.stop();
        if (m_browser)
            navigate();
        else if (m_pane.isVisible())
            startControl(false);
    }

    void end() override
    {
        endControl();
        m_url.clear();
        m_asleep = false;
        m_press.reset();
    }

    void paneShown() override
    {
        if (m_url.isEmpty())
            return;
        // After show() has returned, so that the window the host lives in exists.
        QMetaObject::invokeMethod(
            &m_pane, [this] { startControlAgainIfUnseen(); }, Qt::QueuedConnection);
    }

    void wake(std::optional<QPoint> press) override
    {
        // While the control comes back behind the picture, presses reach the pane.
        if (m_browser) {
            if (press && m_asleep)
                m_press = press;
            return;
        }
        if (!m_asleep || m_url.isEmpty() || !m_pane.isVisible())
            return;
        m_press = press;
        startControl(true);
    }

private:
    void startControlAgainIfUnseen()
    {
        // New window flags give the pane's window a new native window, and
        // the control's window went with the old one: a fresh control takes over.
        if (m_browser && !IsWindow(m_window))
            endControl();
        if (!m_browser && !m_asleep && !m_url.isEmpty() && m_pane.isVisible())
            startControl(false);
    }

    void fail(const char *what)
    {
        qWarning("himekuri: the web-browser control %s; the pane shows its picture", what);
        // Never inside a call of the control's own.
        QMetaObject::invokeMethod(
            &m_pane, [this] { fallBack(m_pane); }, Qt::QueuedConnection);
    }

    // Coming back from a picture, the host stays hidden until the page has
    // loaded: the picture stays in view meanwhile, with no blank in between.
    void startControl(bool behindPicture)
    {
        QWidget *host = makeHost(m_pane);
        m_host = host;
        if (behindPicture)
            host->hide();

        const Atl &atl = Atl::get();
        if (!atl.ready)
            return fail("cannot be hosted (no atl.dll)");
        const std::wstring program =
            m_program.isEmpty() ? std::wstring(DefaultControl) : m_program.toStdWString();
        // The host's size in the screen's pixels, which the pane's differs
        // from on a scaled screen.
        RECT size {0, 0, m_pane.width(), m_pane.height()};
        GetClientRect(hwnd(host), &size);
        m_window = CreateWindowExW(
            0, L"AtlAxWin", program.c_str(), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
            size.right, size.bottom, hwnd(host), nullptr, GetModuleHandleW(nullptr), nullptr);
        IUnknown *control = nullptr;
        if (!m_window || FAILED(atl.getControl(m_window, &control)) || !control)
            return fail("cannot be created");
        control->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void **>(&m_browser));
        control->Release();
        if (!m_browser)
            return fail("is no web browser");
        // Script errors of a page are no business of the calendar's user.
        m_browser->put_Silent(VARIANT_TRUE);
        listen();
        navigate();
    }

    void listen()
    {
        IConnectionPointContainer *points = nullptr;
        if (FAILED(m_browser->QueryInterface(IID_IConnectionPointContainer,
                                             reinterpret_cast<void **>(&points))))
            return;
        if (SUCCEEDED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, &m_point))) {
            const unsigned control = m_control;
            m_events = new Events([this] { fail("could not load the page"); },
                                  [this, control](IDispatch *frame) {
                                      if (!isPage(frame))
                                          return;
                                      // Not inside the control's call, and not
                                      // for a control ended meanwhile.
                                      QMetaObject::invokeMethod(
                                          &m_pane,
                                          [this, control] {
                                              if (control == m_control && m_browser)
                                                  loaded();
                                          },
                                          Qt::QueuedConnection);
                                  });
            if (FAILED(m_point->Advise(m_events, &m_cookie)))
                m_cookie = 0;
        }
        points->Release();
    }

    // Whether a frame's browser object is the page's own, not a frame's within it.
    bool isPage(IDispatch *frame) const
    {
        IUnknown *one = nullptr;
        IUnknown *other = nullptr;
        frame->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&one));
        if (m_browser)
            m_browser->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&other));
        const bool same = one && one == other;
        if (one)
            one->Release();
        if (other)
            other->Release();
        return same;
    }

    void navigate()
    {
        const std::wstring address = QString::fromLatin1(m_url.toEncoded()).toStdWString();
        VARIANT url;
        VariantInit(&url);
        url.vt = VT_BSTR;
        url.bstrVal = SysAllocString(address.c_str());
        const HRESULT result = m_browser->Navigate2(&url, nullptr, nullptr, nullptr, nullptr);
        VariantClear(&url);
        if (FAILED(result))
            return fail("could not start the page");
        // For whoever wants to know what the control was sent to (the tests).
        if (m_host)
            m_host->setProperty("navigatedTo", m_url);
    }

    // The page has loaded: it is shown, if it was kept hidden, and watched
    // until it stands still.
    void loaded()
    {
        if (m_host && m_host->isHidden()) {
            m_host->show();
            // Drawn now, before the window system shows the host empty.
            RedrawWindow(m_window, nullptr, nullptr,
                         RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        }
        m_asleep = false;
        const qint64 now = m_clock.elapsed();
        // A link followed on the page does not make it live longer.
        if (!m_look.isActive())
            m_liveSince = now;
        m_changed = now;
        m_picture = QImage();
        m_look.start(LookMs);
        if (const std::optional<QPoint> press = std::exchange(m_press, std::nullopt))
            replayPress(*press);
    }

    void look()
    {
        if (!m_browser || !m_host || m_host->isHidden())
            return;
        const qint64 now = m_clock.elapsed();
        const std::optional<QImage> picture = snapshot();
        if (!picture) {
            // No picture to keep: the page stays live until one can be had.
            m_picture = QImage();
            m_changed = now;
        } else if (*picture != m_picture) {
            m_picture = *picture;
            m_changed = now;
        }
        VARIANT_BOOL busy = VARIANT_FALSE;
        if (SUCCEEDED(m_browser->get_Busy(&busy)) && busy)
            m_changed = now;
        if (inUse()) {
            m_lastUse = now;
            return;
        }
        const qint64 quiet = now - std::max<qint64>(m_changed, m_lastUse);
        const qint64 live = now - std::max<qint64>(m_liveSince, m_lastUse);
        if (!m_picture.isNull() && (quiet >= StillMs || live >= LiveLimitMs))
            fallAsleep();
    }

    // The pointer on the page, or typing into it with the pointer elsewhere.
    bool inUse() const
    {
        const HWND host = hwnd(m_host);
        POINT at;
        if (GetCursorPos(&at)) {
            const HWND under = WindowFromPoint(at);
            if (under && (under == host || IsChild(host, under)))
                return true;
        }
        const HWND focus = GetFocus();
        LASTINPUTINFO input {sizeof input, 0};
        return focus && IsChild(host, focus) && GetForegroundWindow() == GetAncestor(host, GA_ROOT)
            && GetLastInputInfo(&input) && GetTickCount() - input.dwTime < StillMs;
    }

    // The control's window as it stands, or nothing where it cannot be drawn.
    std::optional<QImage> snapshot() const
    {
        RECT size;
        if (!m_window || !GetClientRect(m_window, &size) || size.right <= 0 || size.bottom <= 0)
            return std::nullopt;
        const int width = size.right;
        const int height = size.bottom;
        BITMAPINFO info {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height; // top row first, as QImage has it
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        std::optional<QImage> result;
        const HDC dc = CreateCompatibleDC(nullptr);
        void *bits = nullptr;
        const HBITMAP bitmap =
            dc ? CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
        if (bitmap && bits) {
            const HGDIOBJ before = SelectObject(dc, bitmap);
            // The window as the screen has it; else the document drawn by itself.
            for (int way = 0; way < 2 && !result; ++way) {
                std::memset(bits, 0, size_t(width) * size_t(height) * 4);
                const bool drawn = way == 0 ? PrintWindow(m_window, dc, RenderFullContent)
                                            : drawDocument(dc, width, height);
                GdiFlush();
                const QImage image(static_cast<const uchar *>(bits), width, height, width * 4,
                                   QImage::Format_RGB32);
                if (drawn && !isBlank(image))
                    result = image.copy();
            }
            SelectObject(dc, before);
        }
        if (bitmap)
            DeleteObject(bitmap);
        if (dc)
            DeleteDC(dc);
        return result;
    }

    bool drawDocument(HDC dc, int width, int height) const
    {
        IDispatch *document = nullptr;
        if (!m_browser || FAILED(m_browser->get_Document(&document)) || !document)
            return false;
        IViewObject *view = nullptr;
        document->QueryInterface(IID_IViewObject, reinterpret_cast<void **>(&view));
        document->Release();
        if (!view)
            return false;
        RECTL bounds {0, 0, width, height};
        const HRESULT drawn = view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc,
                                         &bounds, nullptr, nullptr, 0);
        view->Release();
        return SUCCEEDED(drawn);
    }

    // The page, drawn as it stood, takes the control's place.
    void fallAsleep()
    {
        const QSize paneSize = m_pane.size() * m_pane.devicePixelRatioF();
        QImage still = m_picture;
        if (still.size() != paneSize) {
            still = QImage(paneSize, QImage::Format_RGB32);
            still.fill(Qt::white);
            QPainter(&still).drawImage(0, 0, m_picture);
        }
        // The page it shows now, which a link followed may have changed.
        BSTR location = nullptr;
        if (SUCCEEDED(m_browser->get_LocationURL(&location)) && location) {
            const QUrl shown(QString::fromWCharArray(location, int(SysStringLen(location))));
            if (isPageAddress(shown))
                m_url = shown;
        }
        SysFreeString(location);
        showStill(m_pane, still);
        endControl();
        m_asleep = true;
    }

    // A press on the picture, made on the window of the page under it.
    void replayPress(QPoint press)
    {
        const qreal ratio = m_pane.devicePixelRatioF();
        POINT at {qRound(press.x() * ratio), qRound(press.y() * ratio)};
        HWND target = m_window;
        while (target) {
            const HWND child = ChildWindowFromPointEx(
                target, at, CWP_SKIPINVISIBLE | CWP_SKIPDISABLED | CWP_SKIPTRANSPARENT);
            if (!child || child == target)
                break;
            MapWindowPoints(target, child, &at, 1);
            target = child;
        }
        if (!target)
            return;
        const LPARAM where = MAKELPARAM(at.x, at.y);
        PostMessageW(target, WM_MOUSEMOVE, 0, where);
        PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, where);
        PostMessageW(target, WM_LBUTTONUP, 0, where);
    }

    void endControl()
    {
        m_look.stop();
        m_picture = QImage();
        ++m_control;
        if (m_point) {
            if (m_cookie)
                m_point->Unadvise(m_cookie);
            m_point->Release();
            m_point = nullptr;
            m_cookie = 0;
        }
        if (m_events) {
            m_events->forget();
            m_events->Release();
            m_events = nullptr;
        }
        if (m_browser) {
            m_browser->Stop();
            m_browser->Release();
            m_browser = nullptr;
        }
        if (m_window) {
            DestroyWindow(m_window);
            m_window = nullptr;
        }
        delete m_host.data();
    }

    WebBrowser &m_pane;
    QString m_program;
    QUrl m_url;
    QPointer<QWidget> m_host;
    HWND m_window = nullptr;
    IWebBrowser2 *m_browser = nullptr;
    IConnectionPoint *m_point = nullptr;
    Events *m_events = nullptr;
    DWORD m_cookie = 0;
    // Counts the controls started and ended, so that word of an old one is ignored.
    unsigned m_control = 0;
    // The pane shows a picture of the page, and no control runs (or one
    // loads behind the picture).
    bool m_asleep = false;
    // A press on the picture, to be made on the page once it is back.
    std::optional<QPoint> m_press;
    // The loaded page, looked at: its last picture, when that last changed,
    // when it was last used, since when it is live.
    QTimer m_look;
    QElapsedTimer m_clock;
    QImage m_picture;
    qint64 m_changed = 0;
    qint64 m_lastUse = -1;
    qint64 m_liveSince = 0;
};

} // namespace

std::unique_ptr<WebBrowser::Page> WebBrowser::Page::make(WebBrowser &pane)
{
    return std::make_unique<ControlPage>(pane);
}

} // namespace himekuri
