#include "runtime.h"

#include "controls.h"
#include "form.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace himekuri {

HandlerFailure::HandlerFailure(const QString &message)
    : std::runtime_error(message.toStdString())
{ }

QString HandlerFailure::message() const
{
    return QString::fromStdString(what());
}

namespace {

// Unwinds the handler that ended the program; deliberately no std::exception,
// so that the ignore-and-continue rule cannot swallow it.
struct ProgramEnded
{
};

bool showMessageBox(const QString &text, Runtime::MessageKind kind)
{
    using Kind = Runtime::MessageKind;
    const QMessageBox::Icon icon = kind == Kind::Failure ? QMessageBox::Critical
        : kind == Kind::Warning                          ? QMessageBox::Warning
        : kind == Kind::Question                         ? QMessageBox::Question
                                                         : QMessageBox::NoIcon;
    const bool question = kind == Kind::Question;
    QMessageBox box(icon, Runtime::applicationTitle(), text,
                    question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    if (question)
        box.setDefaultButton(QMessageBox::No);
    // The text may hold what the user typed or a file held: never markup.
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

} // namespace

Runtime::Runtime(const Clock &clock, const Platform &platform, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_platform(platform)
    , m_messageBox(showMessageBox)
{ }

// Forms delete their views; views may still be queued for deletion.
Runtime::~Runtime() = default;

QString Runtime::applicationTitle()
{
    return QStringLiteral("日めくりカレンダー");
}

void Runtime::adopt(std::unique_ptr<Form> form)
{
    const QString name = form->name();
    m_forms[name] = std::move(form);
}

Form *Runtime::form(const QString &name) const
{
    const auto it = m_forms.find(name);
    return it == m_forms.end() ? nullptr : it->second.get();
}

bool Runtime::anyFormLoaded() const
{
    for (const auto &[name, form] : m_forms) {
        if (form->isLoaded())
            return true;
    }
    return false;
}

void Runtime::invoke(const std::function<void()> &handler)
{
    if (m_ended)
        return;
    ++m_handlerDepth;
    try {
        // A clock tick sets captions and reads them back: one look at them
        // all once the handler is over, without waking the event loop.
        const Label::CaptionBatch captions;
        handler();
    } catch (const ProgramEnded &) {
    } catch (const HandlerFailure &failure) {
        m_messageBox(failure.message(), MessageKind::Failure);
        stop(1);
    } catch (const std::exception &failure) {
        m_messageBox(QString::fromUtf8(failure.what()), MessageKind::Failure);
        stop(1);
    }
    --m_handlerDepth;
    finishIfIdle();
}

bool Runtime::tryStatement(const std::function<void()> &statement)
{
    try {
        statement();
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

void Runtime::end(int exitCode)
{
    stop(exitCode);
    if (m_handlerDepth > 0)
        throw ProgramEnded {};
}

void Runtime::stop(int exitCode)
{
    if (m_ended)
        return;
    m_ended = true;
    for (const auto &[name, form] : m_forms)
        form->discard();
    Q_EMIT finished(exitCode);
}

void Runtime::processPendingEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (m_ended && m_handlerDepth > 0)
        throw ProgramEnded {};
}

void Runtime::messageBox(const QString &text, MessageKind kind)
{
    m_messageBox(text, kind);
    if (m_ended && m_handlerDepth > 0)
        throw ProgramEnded {};
}

bool Runtime::ask(const QString &text)
{
    const bool yes = m_messageBox(text, MessageKind::Question);
    if (m_ended && m_handlerDepth > 0)
        throw ProgramEnded {};
    return yes;
}

void Runtime::setMessageBoxHandler(MessageBoxHandler handler)
{
    m_messageBox = std::move(handler);
}

void Runtime::formUnloaded()
{
    finishIfIdle();
}

void Runtime::finishIfIdle()
{
    if (m_handlerDepth == 0 && !m_ended && !anyFormLoaded())
        stop(0);
}

} // namespace himekuri
