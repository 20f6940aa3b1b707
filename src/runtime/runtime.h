#pragma once

// The window run-time: the three windows are single program-wide forms
// addressed by name. A form (see form.h) outlives its view; the run-time owns
// the forms, runs every handler through one place that applies the failure
// rule, and tells the application when the program is over, either because a
// handler ended it or because no form is loaded any more.

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>

namespace himekuri {

class Clock;
class Form;

// Thrown by a handler statement whose failure the handler does not take care of.
class HandlerFailure : public std::runtime_error
{
public:
    explicit HandlerFailure(const QString &message);
    QString message() const;
};

class Runtime final : public QObject
{
    Q_OBJECT

public:
    using FailureReporter = std::function<void(const QString &message)>;

    explicit Runtime(const Clock &clock, QObject *parent = nullptr);
    ~Runtime() override;

    const Clock &clock() const { return m_clock; }

    // Takes ownership; the form is then addressed by its name.
    template<class F> F &addForm(std::unique_ptr<F> form)
    {
        F &ref = *form;
        adopt(std::move(form));
        return ref;
    }
    Form *form(const QString &name) const;
    bool anyFormLoaded() const;

    // Every event from the window system reaches a handler through here. A
    // failure is reported and ends the program; after the end no handler runs.
    // Handlers calling each other directly (a show that loads a form) do not
    // come through here, so a failure unwinds to the event that started it.
    void invoke(const std::function<void()> &handler);

    // Runs one statement of a handler under the ignore-and-continue rule: a
    // failing statement is skipped and the handler goes on.
    bool tryStatement(const std::function<void()> &statement);

    // Ends the program at once; inside a handler the rest of it does not run.
    void end(int exitCode = 0);
    bool hasEnded() const { return m_ended; }

    // Lets waiting handlers run; does not return into a program that ended meanwhile.
    void processPendingEvents();

    // How failures reach the user; the default is a message box.
    void setFailureReporter(FailureReporter reporter);

    // Called by forms when a view goes away.
    void formUnloaded();

    static QString applicationTitle();

Q_SIGNALS:
    // The program is over: the application should leave its event loop.
    void finished(int exitCode);

private:
    void adopt(std::unique_ptr<Form> form);
    void finishIfIdle();
    void stop(int exitCode);

    const Clock &m_clock;
    std::map<QString, std::unique_ptr<Form>> m_forms;
    FailureReporter m_reportFailure;
    int m_handlerDepth = 0;
    bool m_ended = false;
};

} // namespace himekuri
