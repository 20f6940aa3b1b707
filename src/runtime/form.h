#pragma once

#include "runtime.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <map>
#include <string>
#include <vector>

namespace himekuri {

// A window of the program. The form lives as long as the program and keeps the
// window's module-level state; its view (the top-level widget with every
// control) is made afresh from the window's layout at each load and deleted at
// each unload, so every load starts from the design-time state.
class Form : public QObject
{
    Q_OBJECT

public:
    Form(Runtime &runtime, const QString &name);
    ~Form() override;

    QString name() const { return m_name; }
    bool isLoaded() const { return !m_view.isNull(); }

    // Creates the view, starts its timers, then runs Form_Load; stays hidden.
    void load();
    // Loads first if needed; never makes a second window.
    void show();
    // Deleting the view is deferred, so a handler of this form that unloads it
    // still runs to its end.
    void unload();
    // Drops the view without telling anyone: the program is over.
    void discard();

    // The top-level window; loads the form first.
    QWidget *window();

    // A control by its design name; loads the form first. A form that its own
    // load step unloaded has none: that is the run-time's failure.
    template<class T> T *control(const char *controlName)
    {
        T *found = qobject_cast<T *>(findControl(controlName));
        if (!found)
            throw HandlerFailure(
                QStringLiteral("%1 has no control %2").arg(m_name, QLatin1String(controlName)));
        return found;
    }

protected:
    Runtime &runtime() const { return m_runtime; }

    // The window with its controls in their design-time state, not yet shown.
    virtual QWidget *createView() = 0;
    // The view's timers, from its layout table: they run while it is loaded.
    void runTimers(std::vector<QTimer *> timers);
    virtual void Form_Load() { }
    // The window manager asks to close the window (its close button).
    virtual void closeRequested() { unload(); }

    // Connects a signal of a control to a handler, through the run-time.
    template<class Sender, class Signal, class Handler>
    void onEvent(Sender *sender, Signal signal, Handler handler)
    {
        connect(sender, signal, this, [this, handler] { m_runtime.invoke(handler); });
    }

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void dropView(bool notify);
    // Loads the form; fails where its load step unloaded it again.
    QWidget *loadedView();
    // Looked up in the view once, then remembered with it: the clock asks
    // for its labels every second.
    QObject *findControl(const char *controlName);

    Runtime &m_runtime;
    const QString m_name;
    QPointer<QWidget> m_view;
    std::map<std::string, QPointer<QObject>, std::less<>> m_controls;
    std::vector<QPointer<QTimer>> m_timers;
};

} // namespace himekuri
