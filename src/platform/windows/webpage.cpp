#include "runtime/webbrowser.h"

#include <QPointer>
#include <exdisp.h>
#include <exdispid.h>
#include <functional>
#include <initguid.h> // before the COM headers: their interface ids are defined here
#include <ocidl.h>
#include <string>
#include <windows.h>

namespace himekuri {

namespace {

// Windows' own web-browser control, hosted by ATL in a plain child window.
constexpr auto DefaultControl = L"Shell.Explorer.2";

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
// unknown host, an error status).
class Events final : public IDispatch
{
public:
    explicit Events(std::function<void()> failed)
        : m_failed(std::move(failed))
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
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *,
                                     EXCEPINFO *, UINT *) override
    {
        if (id == DISPID_NAVIGATEERROR && m_failed)
            m_failed();
        return S_OK;
    }
    void forget() { m_failed = nullptr; }

private:
    std::function<void()> m_failed;
    ULONG m_references = 1;
};

class ControlPage final : public WebBrowser::Page
{
public:
    explicit ControlPage(WebBrowser &pane)
        : m_pane(pane)
    { }
    ~ControlPage() override { endControl(); }

    void setProgram(const QString &program) override { m_program = program; }

    void show(const QUrl &url) override
    {
        m_url = url;
        if (m_browser)
            navigate();
        else if (m_pane.isVisible())
            startControl();
    }

    void end() override
    {
        endControl();
        m_url.clear();
    }

    void paneShown() override
    {
        if (!m_browser && !m_url.isEmpty())
            QMetaObject::invokeMethod(
                &m_pane, [this] { show(m_url); }, Qt::QueuedConnection);
    }

private:
    void fail(const char *what)
    {
        qWarning("himekuri: the web-browser control %s; the pane shows its picture", what);
        // Never inside a call of the control's own.
        QMetaObject::invokeMethod(
            &m_pane, [this] { fallBack(m_pane); }, Qt::QueuedConnection);
    }

    void startControl()
    {
        QWidget *host = makeHost(m_pane);
        m_host = host;

        const Atl &atl = Atl::get();
        if (!atl.ready)
            return fail("cannot be hosted (no atl.dll)");
        const std::wstring program =
            m_program.isEmpty() ? std::wstring(DefaultControl) : m_program.toStdWString();
        m_window = CreateWindowExW(0, L"AtlAxWin", program.c_str(),
                                   WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, m_pane.width(),
                                   m_pane.height(), reinterpret_cast<HWND>(host->winId()), nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
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
            m_events = new Events([this] { fail("could not load the page"); });
            if (FAILED(m_point->Advise(m_events, &m_cookie)))
                m_cookie = 0;
        }
        points->Release();
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

    void endControl()
    {
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
};

} // namespace

std::unique_ptr<WebBrowser::Page> WebBrowser::Page::make(WebBrowser &pane)
{
    return std::make_unique<ControlPage>(pane);
}

} // namespace himekuri
