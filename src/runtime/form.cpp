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
    QWidget *view = createView();
    view->setObjectName(m_name);
    // Lets outside tools (and tests) tell the windows apart.
    view->setWindowRole(m_name);
    view->installEventFilter(this);
    m_view = view;
    const auto timers = view->findChildren<QTimer *>();
    for (QTimer *timer : timers)
        timer->start();
    Form_Load();
}

void Form::show()
{
    load();
    m_view->show();
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
    const auto timers = view->findChildren<QTimer *>();
    for (QTimer *timer : timers)
        timer->stop();
    view->hide();
    view->deleteLater();
    if (notify)
        m_runtime.formUnloaded();
}

QObject *Form::findControl(const char *controlName)
{
    load();
    auto known = m_controls.find(std::string_view(controlName));
    if (known == m_controls.end())
        known = m_controls.emplace(controlName, nullptr).first;
    if (!known->second)
        known->second = m_view->findChild<QObject *>(QString::fromLatin1(controlName));
    return known->second;
}

QWidget *Form::window()
{
    load();
    return m_view.data();
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
