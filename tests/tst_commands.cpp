// What the user can do with the calendar window: its menu of stacking modes,
// the banners and the two ways out.

#include "runtime/controls.h"
#include "startup/addresses.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPushButton>

using namespace himekuri;

using Places = std::vector<StackPlace>;
Q_DECLARE_METATYPE(Places)

class TestCommands : public test::ProgramTest
{
    Q_OBJECT

private Q_SLOTS:
    void paintsPushTheWindowBackWhileBottomIsChecked();
    void stackingModes_data();
    void stackingModes();
    void bannersOpenTheirPages();
    void quitClosesOnlyTheCalendar();

private:
    // The calendar on screen, after the first paint has sent it to the back.
    bool startCalendar()
    {
        return m_p->showCalendar() && QTest::qWaitFor([this] { return !restacks().empty(); })
            && restacks().front() == StackPlace::Bottom;
    }
    QAction *item(const char *name) { return m_p->form1->control<QAction>(name); }
    Places &restacks() { return m_p->platform.restacks; }
    void click(const char *name)
    {
        QTest::mouseClick(m_p->form1->control<QWidget>(name), Qt::LeftButton);
    }
};

namespace {

// Counts a widget's paints.
struct PaintCounter : QObject
{
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
    int paints = 0;
};

} // namespace

void TestCommands::paintsPushTheWindowBackWhileBottomIsChecked()
{
    // Mapped at the bottom already: never above other windows for a moment.
    QVERIFY(startCalendar());
    QVERIFY(item("MNU_B")->isChecked());
    QVERIFY(m_p->platform.flagsBeforeShow & Qt::WindowStaysOnBottomHint);

    // Back to the bottom once the paint is over; other events may run meanwhile.
    bool othersRan = false;
    m_p->platform.onRestack = [&othersRan] {
        QTimer::singleShot(0, qApp, [&othersRan] { othersRan = true; });
    };
    restacks().clear();
    m_p->form1->control<Label>("Label1")->setCaption(QStringLiteral("10時00分01秒A"));
    QTRY_COMPARE(restacks(), Places {StackPlace::Bottom});
    QVERIFY(othersRan);

    // A burst of paints is one push, not one each.
    restacks().clear();
    for (const char *name : {"Label1", "Label11", "Label5"})
        m_p->form1->control<Label>(name)->setCaption(QStringLiteral("12"));
    m_p->form1->window()->repaint();
    QTRY_VERIFY(!restacks().empty());
    QTest::qWait(50);
    QCOMPARE(restacks().size(), size_t(1));

    // With the clock standing still, the box's blinking cursor and a button's
    // hover repaint child windows only: not the page, so no push.
    QVERIFY(test::fire(*m_p->form1)); // the page as the clock has it
    QWidget *page = m_p->form1->window();
    page->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(page));
    m_p->form1->control<QWidget>("RichTextBox1")->setFocus();
    QTest::mouseMove(m_p->form1->control<QWidget>("Command1"));
    QTest::qWait(100);
    restacks().clear();
    PaintCounter blinks(m_p->form1->control<QWidget>("RichTextBox1"));
    QTest::qWait(1200); // the cursor blinks twice
    QVERIFY2(blinks.paints > 0, "the box did not repaint: nothing was tried");
    QCOMPARE(restacks(), Places {});
    // A tick that changes the clock's text is one push.
    m_p->clock.set("2002-11-02T10:00:01");
    QVERIFY(test::fire(*m_p->form1));
    QTRY_COMPARE(restacks(), Places {StackPlace::Bottom});
}

void TestCommands::stackingModes_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<bool>("bottom");
    QTest::addColumn<bool>("top");
    QTest::addColumn<Places>("places");
    QTest::addColumn<bool>("paintsPushBack");

    using P = StackPlace;
    // Every load starts with bottom checked; the first command leaves it.
    const struct
    {
        const char *tag, *commands;
        bool bottom, top;
        Places places;
        bool paintsPushBack;
    } rows[] = {
        {"bottom: uncheck it", "MNU_B", false, false, {P::LeaveBottom}, false},
        {"bottom: to top-most", "MNU_T", false, true, {P::TopMost}, false},
        {"top-most: to bottom", "MNU_T MNU_B", true, false, {P::TopMost, P::Bottom}, true},
        {"top-most: leave it", "MNU_T MNU_T", false, false, {P::TopMost, P::LeaveTopMost}, false},
        {"neither: to bottom", "MNU_B MNU_B", true, false, {P::LeaveBottom, P::Bottom}, true},
        {"neither: to top-most", "MNU_B MNU_T", false, true, {P::LeaveBottom, P::TopMost}, false},
    };
    for (const auto &row : rows)
        QTest::newRow(row.tag) << QString(row.commands).split(u' ') << row.bottom << row.top
                               << row.places << row.paintsPushBack;
}

void TestCommands::stackingModes()
{
    QFETCH(QStringList, commands);
    QFETCH(bool, paintsPushBack);

    QVERIFY(startCalendar());
    QTest::qWait(20);
    restacks().clear();
    // As chosen from the menu: Qt's own toggling does not get in the way.
    for (const QString &command : commands)
        item(qPrintable(command))->trigger();
    QTEST(item("MNU_B")->isChecked(), "bottom");
    QTEST(item("MNU_T")->isChecked(), "top");
    QTEST(restacks(), "places");

    restacks().clear();
    m_p->form1->window()->repaint();
    QTest::qWait(20);
    QCOMPARE(restacks(), paintsPushBack ? Places {StackPlace::Bottom} : Places {});

    // A fresh load is back at the bottom.
    m_p->runtime->invoke([this] {
        m_p->form3->show(); // keeps the program alive
        m_p->form1->unload();
        m_p->form1->show();
    });
    QVERIFY(item("MNU_B")->isChecked());
    QVERIFY(!item("MNU_T")->isChecked());
}

void TestCommands::bannersOpenTheirPages()
{
    QVERIFY(startCalendar());
    click("Image2");
    click("Image3");
    QCOMPARE(m_p->platform.browsed, QStringList({MakerHomePage, FeedbackBoard}));
    QVERIFY(m_p->messages.isEmpty());

    // A browser that cannot start is told; the calendar stays.
    m_p->platform.browserStarts = false;
    click("Image3");
    const QStringList told = m_p->takeMessages();
    QCOMPARE(told.size(), 1);
    QVERIFY(told[0].startsWith(QStringLiteral("ウェブブラウザを起動できませんでした。")));
    QVERIFY(told[0].contains(QLatin1String(FeedbackBoard)));
    QVERIFY(!m_p->exitCode);
    QVERIFY(m_p->form1->window()->isVisible());
}

void TestCommands::quitClosesOnlyTheCalendar()
{
    // An unanswered question: the calendar comes up beside it.
    m_p->start();
    QVERIFY(m_p->form3->isLoaded());
    QVERIFY(m_p->handOver());

    item("MNU_X")->trigger();
    QVERIFY(!m_p->form1->isLoaded());
    QVERIFY(!m_p->exitCode);
    QVERIFY(m_p->form3->window()->isVisible());

    // Answering then ends the program: the calendar is not brought back
    // hidden, which would keep it running unseen.
    QTest::mouseClick(m_p->form3->control<QPushButton>("Command1"), Qt::LeftButton);
    QCOMPARE(m_p->exitCode, std::optional(0));
    QVERIFY(!m_p->form1->isLoaded());
    QCOMPARE(m_p->read("or.txt"), QByteArray("Y\r\n"));
    QCOMPARE(m_p->form1->paneTarget(), QString::fromLatin1(LatestVersionPage));
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
