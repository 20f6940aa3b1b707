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
class Platform;

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
    enum class MessageKind { Information, Warning, Failure, Question };
    // Returns the answer to a question: true for Yes.
    using MessageBoxHandler = std::function<bool(const QString &text, MessageKind kind)>;

    Runtime(const Clock &clock, const Platform &platform, QObject *parent = nullptr);
    ~Runtime() override;

    const Clock &clock() const { return m_clock; }
    const Platform &platform() const { return m_platform; }

    // Takes ownership; the form is then addressed by its name.
    template<class F> F &addForm(std::unique_ptr<F> form)
    {
        F &ref = *form;
        adopt(std::move(form));
        return ref;
    }
    Form *form(const QString &name) const;
    template<class F> F &form(const QString &name) const { return static_cast<F &>(*form(name)); }
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

    // A message box with an OK button and the program's title; it takes the
    // input away from every other window until it is dismissed. Handlers of
    // other events (timers) still run meanwhile.
    void messageBox(const QString &text, MessageKind kind = MessageKind::Information);
    // The same with Yes and No, No the default; true for Yes.
    bool ask(const QString &text);
    // Where message boxes go; tests read them instead of showing them.
    void setMessageBoxHandler(MessageBoxHandler handler);

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
    const Platform &m_platform;
    std::map<QString, std::unique_ptr<Form>> m_forms;
    MessageBoxHandler m_messageBox;
    int m_handlerDepth = 0;
    bool m_ended = false;
};

} // namespace himekuri
