#pragma once

#include "calendar/form1.h"
#include "platform/platform.h"
#include "question/form3.h"
#include "runtime/clock.h"
#include "runtime/controls.h"
#include "runtime/layout.h"
#include "startup/form2.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QMap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>
#include <vector>

namespace himekuri::test {

class FakeClock final : public Clock
{
public:
    QDateTime now() const override { return m_now; }
    void set(const QDateTime &now) { m_now = now; }
    void set(const char *iso) { m_now = QDateTime::fromString(QLatin1String(iso), Qt::ISODate); }

private:
    QDateTime m_now = QDateTime(QDate(2002, 11, 2), QTime(10, 0));
};

// Writes down what the program asks of the desktop.
class FakePlatform final : public Platform
{
public:
    QString folder;
    bool another = false;
    QStringList warnings;
    bool browserStarts = true;
    mutable std::vector<StackPlace> restacks;
    mutable QStringList browsed;
    mutable std::function<void()> onRestack;

    QString installFolder() const override { return folder; }
    bool anotherCopyRunning() const override { return another; }
    QStringList startupWarnings() const override { return warnings; }
    void restack(QWidget *, StackPlace place) const override
    {
        restacks.push_back(place);
        if (onRestack)
            onRestack();
    }
    void keepOffTaskbar(QWidget *window) const override { flagsBeforeShow = window->windowFlags(); }
    mutable Qt::WindowFlags flagsBeforeShow;
    bool openInBrowser(const QUrl &url) const override
    {
        browsed << url.toString();
        return browserStarts;
    }
    bool otherActive = false; // the user works in another program
    bool otherProgramActive() const override { return otherActive; }
};

// The controls of a form as the design gives them, from tests/data/layout.txt
// (written by hand, not from the forms' own tables): place, size, face,
// pixel size, style, transparency, text colour, caption and stacking.
inline void checkLayout(QWidget *client, const char *form)
{
    QFile table(QStringLiteral(HIMEKURI_LAYOUT_TABLE));
    QVERIFY(table.open(QIODevice::ReadOnly | QIODevice::Text));
    const QMap<QString, QString> faces = {{"gothic", "IPAGothic"},
                                          {"pgothic", "IPAPGothic"},
                                          {"pmincho", "IPAMincho"},
                                          {"dialog", "IPAPGothic"}};
    const QMap<QString, OleColor> colours = {
        {"button", systemColor(18)}, {"black", 0}, {"yellow", 0x00FFFF}};
    QStringList listed;
    while (!table.atEnd()) {
        const QString line = QString::fromUtf8(table.readLine()).trimmed();
        const QStringList f = line.split(u' ', Qt::SkipEmptyParts);
        if (line.startsWith(u'#') || f.value(0) != QLatin1String(form))
            continue;
        listed << f[1];
        auto *control = client->findChild<QWidget *>(f[1]);
        QVERIFY2(control && control->isVisible(), qPrintable(f[1]));
        QCOMPARE(control->geometry(),
                 QRect(f[2].toInt(), f[3].toInt(), f[4].toInt(), f[5].toInt()));
        if (f[6] != u"-") {
            const QFontInfo used(control->font());
            QCOMPARE(used.family(), faces.value(f[6]));
            QCOMPARE(used.pixelSize(), f[7].toInt());
            QCOMPARE(used.bold(), f[8].contains(u'b'));
            QCOMPARE(used.italic(), f[8].contains(u'i'));
            QCOMPARE(used.underline(), f[8].contains(u'u'));
        }
        const QString caption = f.mid(11).join(u' ');
        if (auto *label = qobject_cast<Label *>(control)) {
            if (caption != u"-") // the rest are filled in by the program
                QCOMPARE(label->caption(), caption);
            QCOMPARE(label->isTransparent(), f[9] == u"clear");
            QCOMPARE(label->foreColor(), colours.value(f[10]));
        } else if (auto *button = qobject_cast<QPushButton *>(control)) {
            QCOMPARE(button->text(), caption);
        } else if (auto *picture = qobject_cast<Picture *>(control)) {
            QCOMPARE(picture->pixmap().size(), picture->size()); // natural size
        }
    }
    QVERIFY2(!listed.isEmpty(), form);
    QStringList stacked; // the table lists the top-most first
    for (QObject *child : client->children()) {
        if (listed.contains(child->objectName()))
            stacked.prepend(child->objectName());
    }
    QCOMPARE(stacked, listed);
}

// A window's timer falls due now, through the connections the window made.
inline bool fire(Form &form, const char *timer = "Timer1")
{
    auto *t = form.window()->findChild<QTimer *>(QLatin1String(timer));
    return t && QMetaObject::invokeMethod(t, "timeout");
}

// The whole program on a fake clock, in a temporary install folder, with its
// message boxes written down instead of shown.
class Program
{
public:
    Program()
    {
        platform.folder = m_home.path() + QStringLiteral("/.local/share/himekuri/");
        runtime = std::make_unique<Runtime>(clock, platform);
        form1 = &runtime->addForm(std::make_unique<Form1>(*runtime));
        form2 = &runtime->addForm(std::make_unique<Form2>(*runtime));
        form3 = &runtime->addForm(std::make_unique<Form3>(*runtime));
        runtime->setMessageBoxHandler([this](const QString &text, Runtime::MessageKind) {
            messages << text;
            if (onMessageBox)
                onMessageBox();
            return answer;
        });
        QObject::connect(runtime.get(), &Runtime::finished, runtime.get(),
                         [this](int code) { exitCode = code; });
    }

    ~Program()
    {
        runtime.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void start()
    {
        runtime->invoke([this] { form2->show(); });
    }
    // A start with the question answered before.
    void start(const char *choice)
    {
        write("or.txt", QByteArray(choice) + "\r\n");
        start();
    }
    // The splash's timer falls due and the calendar comes up in its place.
    bool handOver()
    {
        return form2->isLoaded() && fire(*form2) && !form2->isLoaded() && form1->isLoaded()
            && form1->window()->isVisible();
    }
    // Loaded hidden for its pane while the splash is up, shown after it.
    bool showCalendar()
    {
        start("N");
        return form1->isLoaded() && !form1->window()->isVisible() && handOver();
    }

    QStringList takeMessages() { return std::exchange(messages, {}); }
    QString path(const char *file) const { return platform.folder + QLatin1String(file); }
    QByteArray read(const char *file) const
    {
        QFile f(path(file));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void write(const char *file, const QByteArray &bytes) const
    {
        QDir().mkpath(platform.folder);
        QFile f(path(file));
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }

    FakeClock clock;
    FakePlatform platform;
    std::unique_ptr<Runtime> runtime;
    Form1 *form1 = nullptr;
    Form2 *form2 = nullptr;
    Form3 *form3 = nullptr;
    QStringList messages;
    std::function<void()> onMessageBox;
    bool answer = false; // to every question
    std::optional<int> exitCode;

private:
    QTemporaryDir m_home;
};

// Each test function gets a program of its own; a message box it did not
// take fails it.
class ProgramTest : public QObject
{
    Q_OBJECT

protected:
    std::unique_ptr<Program> m_p;

private Q_SLOTS:
    void initTestCase() { installFontSubstitutes(); }
    void init() { m_p = std::make_unique<Program>(); }
    void cleanup()
    {
        const QStringList left = m_p->takeMessages();
        m_p.reset();
        QVERIFY2(left.isEmpty(), qPrintable(left.join(u'\n')));
    }
};

} // namespace himekuri::test
