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
#include <QTest>
#include <QTimer>

using namespace himekuri;

using Places = std::vector<StackPlace>;
Q_DECLARE_METATYPE(Places)

class TestCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void paintsPushTheWindowBackWhileBottomIsChecked();
    void stackingModes_data();
    void stackingModes();
    void rightClickPopsUpTheMenu();
    void bannersOpenTheirPagesWithoutWaiting();
    void browserThatCannotStartIsTold();
    void closeEndsAtOnceWithoutSaving();
    void quitClosesOnlyTheCalendar();

private:
    void startCalendar();
    QAction *item(const char *name) { return m_p->form1->control<QAction>(name); }
    QWidget *window() { return m_p->form1->window(); }
    Places &restacks() { return m_p->platform.restacks; }
    void clickPicture(const char *name)
    {
        QTest::mouseClick(m_p->form1->control<Picture>(name), Qt::LeftButton);
    }

    std::unique_ptr<test::Program> m_p;
};

void TestCommands::initTestCase()
{
    installFontSubstitutes();
}

void TestCommands::init()
{
    m_p = std::make_unique<test::Program>();
}

void TestCommands::cleanup()
{
    m_p.reset();
}

void TestCommands::startCalendar()
{
    m_p->write("or.txt", "N\r\n");
    m_p->start();
    auto *splash = m_p->form2->window()->findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY(QMetaObject::invokeMethod(splash, "timeout"));
    QVERIFY(m_p->form1->window()->isVisible());
    // The first paint sends it to the back.
    QTRY_VERIFY(!restacks().empty());
    QCOMPARE(restacks().front(), StackPlace::Bottom);
}

void TestCommands::paintsPushTheWindowBackWhileBottomIsChecked()
{
    startCalendar();
    QVERIFY(item("MNU_B")->isChecked());

    // The clock's change repaints a label: back to the bottom, once the paint
    // is over, and other events may run meanwhile.
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
    window()->repaint();
    QTRY_VERIFY(!restacks().empty());
    QTest::qWait(50);
    QCOMPARE(restacks().size(), size_t(1));
}

void TestCommands::stackingModes_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<bool>("bottom");
    QTest::addColumn<bool>("top");
    QTest::addColumn<Places>("places");
    QTest::addColumn<bool>("paintsPushBack");

    using P = StackPlace;
    // From the state at every load: bottom checked.
    QTest::newRow("bottom: uncheck it")
        << QStringList {"MNU_B"} << false << false << Places {P::LeaveBottom} << false;
    QTest::newRow("bottom: to top-most")
        << QStringList {"MNU_T"} << false << true << Places {P::TopMost} << false;
    // From top-most.
    QTest::newRow("top-most: to bottom") << QStringList {"MNU_T", "MNU_B"} << true << false
                                         << Places {P::TopMost, P::Bottom} << true;
    QTest::newRow("top-most: leave the band") << QStringList {"MNU_T", "MNU_T"} << false << false
                                              << Places {P::TopMost, P::LeaveTopMost} << false;
    // From neither.
    QTest::newRow("neither: to bottom") << QStringList {"MNU_B", "MNU_B"} << true << false
                                        << Places {P::LeaveBottom, P::Bottom} << true;
    QTest::newRow("neither: to top-most") << QStringList {"MNU_B", "MNU_T"} << false << true
                                          << Places {P::LeaveBottom, P::TopMost} << false;
}

void TestCommands::stackingModes()
{
    QFETCH(QStringList, commands);
    QFETCH(bool, bottom);
    QFETCH(bool, top);
    QFETCH(Places, places);
    QFETCH(bool, paintsPushBack);

    startCalendar();
    QTest::qWait(20);
    restacks().clear();
    // As chosen from the menu: Qt's own toggling does not get in the way.
    for (const QString &command : commands)
        item(qPrintable(command))->trigger();
    QCOMPARE(item("MNU_B")->isChecked(), bottom);
    QCOMPARE(item("MNU_T")->isChecked(), top);
    QCOMPARE(restacks(), places);
    QVERIFY(!item("MNU_X")->isCheckable());

    restacks().clear();
    window()->repaint();
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

void TestCommands::rightClickPopsUpTheMenu()
{
    startCalendar();
    auto *menu = m_p->form1->control<QMenu>("MNU");
    QVERIFY(!menu->isVisible());

    // On the page, labels included; the edit box keeps its own menu.
    auto *label = m_p->form1->control<Label>("Label7");
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                            label->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(label, &click);
    QTRY_VERIFY(menu->isVisible());
    QStringList captions;
    for (QAction *action : menu->actions())
        captions << action->text() + (action->isChecked() ? QStringLiteral(" ✓") : QString());
    QCOMPARE(captions, QStringList({"常に最背面に表示 ✓", "それ以外", "終わる"}));
    menu->hide();
}

void TestCommands::bannersOpenTheirPagesWithoutWaiting()
{
    startCalendar();
    clickPicture("Image2");
    clickPicture("Image3");
    QCOMPARE(m_p->platform.browsed, QStringList({MakerHomePage, FeedbackBoard}));
    QVERIFY(m_p->messages.isEmpty());
    QVERIFY(m_p->form1->window()->isVisible());
}

void TestCommands::browserThatCannotStartIsTold()
{
    startCalendar();
    m_p->platform.browserStarts = false;
    clickPicture("Image3");
    QCOMPARE(m_p->messages.size(), 1);
    QVERIFY(
        m_p->messages.front().startsWith(QStringLiteral("ウェブブラウザを起動できませんでした。")));
    QVERIFY(m_p->messages.front().contains(QLatin1String(FeedbackBoard)));
    QVERIFY(!m_p->exitCode);
    QVERIFY(m_p->form1->window()->isVisible());
}

void TestCommands::closeEndsAtOnceWithoutSaving()
{
    m_p->write("de.txt", "kept\r\n");
    startCalendar();
    m_p->form1->control<RichTextBox>("RichTextBox1")->setText(QStringLiteral("never saved"));
    QTest::mouseClick(m_p->form1->control<QPushButton>("Command1"), Qt::LeftButton);
    QCOMPARE(m_p->exitCode, std::optional(0));
    QVERIFY(!m_p->form1->isLoaded());
    QCOMPARE(m_p->read("de.txt"), QByteArray("kept\r\n"));
}

void TestCommands::quitClosesOnlyTheCalendar()
{
    // An unanswered question: the calendar comes up beside it.
    m_p->start();
    QVERIFY(m_p->form3->isLoaded());
    auto *splash = m_p->form2->window()->findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY(QMetaObject::invokeMethod(splash, "timeout"));
    QVERIFY(m_p->form1->window()->isVisible());

    item("MNU_X")->trigger();
    QVERIFY(!m_p->form1->isLoaded());
    QVERIFY(!m_p->exitCode);
    QVERIFY(m_p->form3->window()->isVisible());

    m_p->form3->window()->close();
    QCOMPARE(m_p->exitCode, std::optional(0));
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
