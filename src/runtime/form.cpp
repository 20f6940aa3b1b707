#include "form.h"

#include <QCloseEvent>
#include <QTimer>

namespace himekuri {

Form::Form(Runtime &runtime, const QString &name)
    : m_runtime(runtime)
    , m_name(name)
{ }

Form::~Form()
{
    delete m_view.data();
}

void Form::load()
{
    if (isLoaded())
        return;
    m_timers.clear();
    QWidget *view = createView();
    view->setObjectName(m_name);
    // Lets outside tools (and tests) tell the windows apart.
    view->setWindowRole(m_name);
    view->installEventFilter(this);
    m_view = view;
    for (QTimer *timer : m_timers)
        timer->start();
    Form_Load();
}

void Form::runTimers(std::vector<QTimer *> timers)
{
    m_timers.assign(timers.begin(), timers.end());
}

QWidget *Form::loadedView()
{
    load();
    if (!m_view)
        throw HandlerFailure(QStringLiteral("%1 was unloaded by its own load step").arg(m_name));
    return m_view.data();
}

void Form::show()
{
    loadedView()->show();
}

void Form::unload()
{
    dropView(true);
}

void Form::discard()
{
    dropView(false);
}

void Form::dropView(bool notify)
{
    if (!isLoaded())
        return;
    QWidget *view = m_view.data();
    m_view = nullptr;
    m_controls.clear();
    view->removeEventFilter(this);
    for (QTimer *timer : m_timers) {
        if (timer)
            timer->stop();
    }
    m_timers.clear();
    view->hide();
    view->deleteLater();
    if (notify)
        m_runtime.formUnloaded();
}

QObject *Form::findControl(const char *controlName)
{
    QWidget *view = loadedView();
    auto known = m_controls.find(std::string_view(controlName));
    if (known == m_controls.end())
        known = m_controls.emplace(controlName, nullptr).first;
    if (!known->second)
        known->second = view->findChild<QObject *>(QString::fromLatin1(controlName));
    return known->second;
}

QWidget *Form::window()
{
    return loadedView();
}

bool Form::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view.data() && event->type() == QEvent::Close) {
        // The view is ours to delete; the form decides what closing means.
        event->ignore();
        m_runtime.invoke([this] { closeRequested(); });
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace himekuri
