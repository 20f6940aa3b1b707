#include "runtime.h"

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

void showFailure(const QString &message)
{
    QMessageBox box(QMessageBox::Critical, Runtime::applicationTitle(), message, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace

Runtime::Runtime(const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_reportFailure(showFailure)
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
        handler();
    } catch (const ProgramEnded &) {
    } catch (const HandlerFailure &failure) {
        m_reportFailure(failure.message());
        stop(1);
    } catch (const std::exception &failure) {
        m_reportFailure(QString::fromUtf8(failure.what()));
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

void Runtime::setFailureReporter(FailureReporter reporter)
{
    m_reportFailure = std::move(reporter);
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
