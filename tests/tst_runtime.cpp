#include "runtime/controls.h"
#include "runtime/form.h"
#include "runtime/placement.h"
#include "testsupport.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace himekuri;

namespace {

// A small window: one label, one fast timer, and state that must outlive views.
class ProbeForm final : public Form
{
public:
    ProbeForm(Runtime &runtime, const QString &name)
        : Form(runtime, name)
    { }

    int loads = 0;
    int ticks = 0;
    QString remembered;
    std::function<void()> onLoad;
    std::function<void()> onTick;

    Label *caption() { return control<Label>("Label1"); }

protected:
    QWidget *createView() override
    {
        auto *window = new QWidget;
        static constexpr ControlRow Rows[] = {
            {"Timer1", ControlKind::Timer, {}, nullptr, nullptr, {}, false, 0, 0, -1, 5},
            {"Label1", ControlKind::Label, {0, 0, 1500, 300}, u"design", nullptr, {}, true},
        };
        runTimers(buildControls(window, Rows));
        onEvent(window->findChild<QTimer *>(QStringLiteral("Timer1")), &QTimer::timeout, [this] {
            ++ticks;
            if (onTick)
                onTick();
        });
        return window;
    }

    void Form_Load() override
    {
        ++loads;
        if (onLoad)
            onLoad();
    }
};

} // namespace

class TestRuntime : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void touchingAControlLoadsHiddenAndShowLoadsOnce();
    void unloadDropsControlsButKeepsFormState();
    void handlerMayUnloadItsOwnForm();
    void failureIsReportedAndEndsTheProgram_data();
    void failureIsReportedAndEndsTheProgram();
    void ignoreAndContinueSkipsOnlyTheFailingStatement();
    void endStopsTheRunningHandler();
    void programEndsWhenNoFormIsLoaded();
    void windowsKeepToTheScreen_data();
    void windowsKeepToTheScreen();

private:
    test::FakeClock m_clock;
    test::FakePlatform m_platform;
    std::unique_ptr<Runtime> m_runtime;
    ProbeForm *m_a = nullptr;
    ProbeForm *m_b = nullptr;
    QStringList m_reports;
};

void TestRuntime::init()
{
    m_runtime = std::make_unique<Runtime>(m_clock, m_platform);
    m_a = &m_runtime->addForm(std::make_unique<ProbeForm>(*m_runtime, QStringLiteral("FormA")));
    m_b = &m_runtime->addForm(std::make_unique<ProbeForm>(*m_runtime, QStringLiteral("FormB")));
    m_reports.clear();
    m_runtime->setMessageBoxHandler([this](const QString &text, Runtime::MessageKind) {
        m_reports << text;
        return false;
    });
}

void TestRuntime::cleanup()
{
    m_runtime.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestRuntime::touchingAControlLoadsHiddenAndShowLoadsOnce()
{
    QVERIFY(!m_a->isLoaded());
    m_runtime->invoke([this] { QCOMPARE(m_a->caption()->caption(), QStringLiteral("design")); });
    QVERIFY(m_a->isLoaded());
    QVERIFY(!m_a->window()->isVisible());
    QCOMPARE(m_runtime->form(QStringLiteral("FormA")), m_a);

    m_runtime->invoke([this] {
        m_a->show();
        m_a->show();
    });
    QCOMPARE(m_a->loads, 1);
    QVERIFY(m_a->window()->isVisible());
    QCOMPARE(m_a->window()->findChildren<Label *>().size(), 1);
}

void TestRuntime::unloadDropsControlsButKeepsFormState()
{
    QPointer<Label> first;
    m_runtime->invoke([&] {
        m_a->show();
        m_b->show(); // keeps the program alive across the unload
        first = m_a->caption();
        first->setCaption(QStringLiteral("changed"));
        first->setForeColor(PureRed);
        m_a->remembered = QStringLiteral("kept");
        m_a->unload();
    });
    QVERIFY(!m_a->isLoaded());
    QTRY_VERIFY(first.isNull());
    QVERIFY(!m_runtime->hasEnded());

    m_runtime->invoke([&] {
        Label *fresh = m_a->caption();
        QCOMPARE(fresh->caption(), QStringLiteral("design"));
        QCOMPARE(fresh->foreColor(), systemColor(18));
    });
    QCOMPARE(m_a->loads, 2);
    QCOMPARE(m_a->remembered, QStringLiteral("kept"));
}

void TestRuntime::handlerMayUnloadItsOwnForm()
{
    bool ranToTheEnd = false;
    m_a->onTick = [&] {
        Label *label = m_a->caption();
        m_a->unload();
        // The control is still there until the handler returns.
        label->setCaption(QStringLiteral("after unload"));
        ranToTheEnd = label->caption() == QStringLiteral("after unload");
    };
    m_runtime->invoke([this] {
        m_a->load();
        m_b->load();
    });
    QTRY_VERIFY(ranToTheEnd);
    QVERIFY(!m_a->isLoaded());
    QCOMPARE(m_a->ticks, 1);
}

void TestRuntime::failureIsReportedAndEndsTheProgram_data()
{
    QTest::addColumn<bool>("inLoad");
    QTest::newRow("in a timer's handler") << false;
    QTest::newRow("in a load a handler started") << true;
    QTest::newRow("a load step that unloads its own form") << true;
}

void TestRuntime::failureIsReportedAndEndsTheProgram()
{
    QFETCH(bool, inLoad);
    QSignalSpy finished(m_runtime.get(), &Runtime::finished);
    const bool unloads =
        QTest::currentDataTag() == QLatin1String("a load step that unloads its own form");
    (inLoad ? m_b->onLoad : m_b->onTick) = [this, unloads] {
        if (unloads)
            m_b->unload(); // its control is asked for all the same
        else
            throw HandlerFailure(QStringLiteral("disk on fire"));
    };
    bool after = false;
    m_runtime->invoke([&] {
        m_a->show();
        m_b->caption();
        after = true;
    });
    // A failure unwinds to the event that started it.
    QCOMPARE(after, !inLoad);
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), 1);
    QCOMPARE(m_reports.size(), 1);
    QVERIFY(
        m_reports[0].contains(unloads ? QStringLiteral("FormB") : QStringLiteral("disk on fire")));
    QVERIFY(m_runtime->hasEnded());
    QVERIFY(!m_a->isLoaded());

    bool ran = false;
    m_runtime->invoke([&] { ran = true; });
    QVERIFY(!ran);
}

void TestRuntime::ignoreAndContinueSkipsOnlyTheFailingStatement()
{
    QStringList done;
    m_a->onLoad = [&] {
        Runtime &rt = *m_runtime;
        QVERIFY(rt.tryStatement([&] { done << "one"; }));
        QVERIFY(!rt.tryStatement([&] {
            throw HandlerFailure(QStringLiteral("missing file"));
            done << "never";
        }));
        rt.tryStatement([&] { m_a->caption()->setCaption(QStringLiteral("three")); });
    };
    m_runtime->invoke([this] { m_a->show(); });
    QCOMPARE(done, QStringList {"one"});
    QVERIFY(m_reports.isEmpty());
    QVERIFY(!m_runtime->hasEnded());
    QCOMPARE(m_a->caption()->caption(), QStringLiteral("three"));
}

void TestRuntime::endStopsTheRunningHandler()
{
    QSignalSpy finished(m_runtime.get(), &Runtime::finished);
    bool after = false;
    m_runtime->invoke([&] {
        m_a->show();
        // Not even the ignore-and-continue rule lets the handler go on.
        m_runtime->tryStatement([&] { m_runtime->end(); });
        after = true;
    });
    QVERIFY(!after);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), 0);
    QVERIFY(m_reports.isEmpty());
    QVERIFY(!m_a->isLoaded());
}

void TestRuntime::programEndsWhenNoFormIsLoaded()
{
    QSignalSpy finished(m_runtime.get(), &Runtime::finished);
    m_runtime->invoke([this] {
        m_a->show();
        m_b->show();
    });
    m_runtime->invoke([this] { m_a->unload(); });
    QCOMPARE(finished.size(), 0);
    m_runtime->invoke([this] {
        m_b->unload();
        // Still inside a handler: the program goes on until it returns.
        QVERIFY(!m_runtime->hasEnded());
        m_b->load();
        m_b->unload();
    });
    QCOMPARE(finished.size(), 1);
}

void TestRuntime::windowsKeepToTheScreen_data()
{
    QTest::addColumn<QList<QRect>>("areas");
    QTest::addColumn<QRect>("window");
    QTest::addColumn<QPoint>("place");

    const QRect calendar(646, 0, 377, 440);
    QTest::newRow("1024x768: as designed")
        << QList<QRect> {{0, 0, 1024, 768}} << calendar << QPoint(646, 0);
    // 1024x768 at a scale factor of 1.5: smaller in the window's own pixels.
    QTest::newRow("682x512") << QList<QRect> {{0, 0, 682, 512}} << calendar << QPoint(305, 0);
    QTest::newRow("screen left of the primary")
        << QList<QRect> {{-1280, 0, 1280, 1024}, {0, 0, 1024, 768}} << calendar << QPoint(646, 0);
    QTest::newRow("dropped across two screens: the one holding most")
        << QList<QRect> {{-1280, 0, 1280, 1024}, {0, 0, 1024, 768}} << QRect(-100, 500, 377, 440)
        << QPoint(0, 328);
    QTest::newRow("off every screen: the nearest")
        << QList<QRect> {{0, 0, 1024, 768}, {1024, 0, 800, 600}} << QRect(2000, 900, 377, 440)
        << QPoint(1447, 160);
    QTest::newRow("larger than the screen: top-left inside")
        << QList<QRect> {{0, 0, 320, 240}} << calendar << QPoint(0, 0);
}

void TestRuntime::windowsKeepToTheScreen()
{
    QFETCH(QList<QRect>, areas);
    QFETCH(QRect, window);
    QTEST(keepOnScreen(window, areas), "place");
}

QTEST_MAIN(TestRuntime)
#include "tst_runtime.moc"
