// The calendar's clock tick and the change of day it brings about.

#include "runtime/controls.h"
#include "runtime/webbrowser.h"
#include "testsupport.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QPushButton>

using namespace himekuri;

class TestClock : public test::ProgramTest
{
    Q_OBJECT

private Q_SLOTS:
    void tickWritesClockMarkAndDate();
    void ticksKeepToTheClocksSeconds();
    void midnightTurnsThePage();
    void tickThatMissedMidnightTurnsThePage_data();
    void tickThatMissedMidnightTurnsThePage();
    void unsavedMessageSurvivesTheDayChange();
    void pageTakesTheKeyboardOnlyWhereItHadIt_data();
    void pageTakesTheKeyboardOnlyWhereItHadIt();
    void manyDayChangesLeaveNothingBehind();
    void systemClockFollowsTheZoneAndAnyStep();

private:
    bool startAt(const char *iso)
    {
        m_p->clock.set(iso);
        return m_p->showCalendar();
    }
    void tickAt(const QString &iso)
    {
        m_p->clock.set(QDateTime::fromString(iso, Qt::ISODateWithMs));
        QVERIFY(test::fire(*m_p->form1));
    }
    QString caption(const char *label) { return m_p->form1->control<Label>(label)->caption(); }
    bool isRed(const char *label)
    {
        return m_p->form1->control<Label>(label)->foreColor() == PureRed;
    }
    RichTextBox *box() { return m_p->form1->control<RichTextBox>("RichTextBox1"); }
};

void TestClock::tickWritesClockMarkAndDate()
{
    QVERIFY(startAt("2002-11-02T10:00:00"));
    const char *rows[][3] = {{"2002-11-02T11:59:59.999", "11時59分59秒A", "午前"},
                             {"2002-11-02T12:00:00", "12時00分00秒P", "午後"}};
    for (const auto &[at, clock, mark] : rows) {
        // The date fields are rewritten too, whatever they showed.
        for (const char *name : {"Label8", "Label3", "Label5", "Label2"})
            m_p->form1->control<Label>(name)->setCaption(QStringLiteral("x"));
        tickAt(QString::fromUtf8(at));
        QCOMPARE(caption("Label1"), QString::fromUtf8(clock));
        QCOMPARE(caption("Label11"), QString::fromUtf8(mark));
        const QStringList page = {caption("Label8"), caption("Label3"), caption("Label5"),
                                  caption("Label2")};
        QCOMPARE(page, QStringList({"2002年", "11", "02", "土曜日"}));
    }
    QVERIFY(m_p->form1->window()->isVisible());
    QVERIFY(!m_p->form2->isLoaded());
}

void TestClock::ticksKeepToTheClocksSeconds()
{
    QVERIFY(startAt("2002-11-02T10:00:00.250"));
    auto *timer = m_p->form1->window()->findChild<QTimer *>(QStringLiteral("Timer1"));
    // The first tick comes a full second after the load.
    QCOMPARE(timer->interval(), 1000);
    QVERIFY(timer->isActive());

    // Later ones just after the clock's next second begins, wherever the last one fell.
    for (const auto &[at, wait] : {std::pair {"10:00:01.250", 770},
                                   {"10:00:02.995", 25},
                                   {"10:00:03.020", 1000},
                                   {"10:00:04.000", 1020}}) {
        tickAt(QStringLiteral("2002-11-02T") + QLatin1String(at));
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), wait);
    }

    // A tick that turns the page leaves no timer running behind it.
    tickAt(QStringLiteral("2002-11-03T00:00:00.020"));
    QVERIFY(!m_p->form1->isLoaded());
    QVERIFY(!timer->isActive());
}

void TestClock::midnightTurnsThePage()
{
    QVERIFY(startAt("2002-12-31T23:59:58"));
    QCOMPARE(caption("Label9"), QStringLiteral("大晦日"));
    QVERIFY(isRed("Label5"));

    tickAt(QStringLiteral("2002-12-31T23:59:59.400"));
    QVERIFY(m_p->form1->isLoaded());
    QVERIFY(!m_p->form2->isLoaded());

    tickAt(QStringLiteral("2003-01-01T00:00:00.400"));
    // The splash takes over and the old page is gone...
    QVERIFY(!m_p->form1->isLoaded());
    QVERIFY(m_p->form2->isLoaded() && m_p->form2->window()->isVisible());
    QVERIFY(!m_p->exitCode);

    // ...until a fresh one computes the new day and shows the pane's picture again.
    m_p->clock.set("2003-01-01T00:00:02.400");
    QVERIFY(m_p->handOver());
    QCOMPARE(caption("Label8"), QStringLiteral("2003年"));
    QCOMPARE(caption("Label3"), QStringLiteral("01"));
    QCOMPARE(caption("Label5"), QStringLiteral("01"));
    QCOMPARE(caption("Label9"), QStringLiteral("元日"));
    for (const char *name : {"Label3", "Label5", "Label2", "Label9"})
        QVERIFY2(isRed(name), name);
    const QImage picture = QImage(m_p->path("dntl.gif")).convertToFormat(QImage::Format_RGB32);
    auto *pane = m_p->form1->control<WebBrowser>("WebBrowser1");
    QTRY_COMPARE(pane->grab().toImage().convertToFormat(QImage::Format_RGB32), picture);
}

void TestClock::tickThatMissedMidnightTurnsThePage_data()
{
    QTest::addColumn<QString>("next");
    QTest::addColumn<QString>("day");
    QTest::addColumn<QString>("holiday");
    // From Culture Day, a red page; the new one starts from the design colours.
    const char *rows[][4] = {{"late by a second", "2002-11-04T00:00:01.000", "04", ""},
                             {"resumed days later", "2002-11-23T09:30:00", "23", "勤労感謝の日"},
                             {"clock set back a day", "2002-11-02T23:00:00", "02", ""}};
    for (const auto &row : rows)
        QTest::newRow(row[0]) << QString(row[1]) << QString(row[2]) << QString(row[3]);
}

void TestClock::tickThatMissedMidnightTurnsThePage()
{
    QFETCH(QString, next);
    QFETCH(QString, holiday);
    QVERIFY(startAt("2002-11-03T23:59:59.900"));
    tickAt(next);
    QVERIFY(!m_p->form1->isLoaded());
    QVERIFY(m_p->form2->isLoaded());

    QVERIFY(m_p->handOver());
    QTEST(caption("Label5"), "day");
    QCOMPARE(caption("Label9"), holiday);
    for (const char *name : {"Label3", "Label5", "Label2", "Label9"})
        QVERIFY2(isRed(name) == !holiday.isEmpty(), name);
}

void TestClock::unsavedMessageSurvivesTheDayChange()
{
    m_p->write("de.txt", "saved\r\n");
    QVERIFY(startAt("2002-11-02T23:59:59.500"));
    box()->setText(QStringLiteral("明日の予定 ①"));
    box()->setSelection(3, 2); // 予定

    // Typed while the splash is up: into the new page's box, in order, where
    // the cursor and selection were.
    tickAt(QStringLiteral("2002-11-03T00:00:00.500"));
    QTest::keyClicks(m_p->form2->window(), QStringLiteral("ab"));
    QTest::keyClick(m_p->form2->window(), Qt::Key_Backspace);
    QInputMethodEvent composed; // what an input method commits
    composed.setCommitString(QStringLiteral("件"));
    QCoreApplication::sendEvent(m_p->form2->window(), &composed);
    QVERIFY(m_p->handOver());
    QCOMPARE(box()->text(), QStringLiteral("明日のa件 ①"));
    QCOMPARE(box()->cursorPosition(), 5);
    box()->setText(QStringLiteral("明日の予定 ①"));
    // Still only typed: the file changes when the user saves.
    QCOMPARE(m_p->read("de.txt"), QByteArray("saved\r\n"));
    QTest::mouseClick(m_p->form1->control<QPushButton>("Command2"), Qt::LeftButton);
    QCOMPARE(m_p->read("de.txt"),
             QByteArray("\x96\xBE\x93\xFA\x82\xCC\x97\x5C\x92\xE8 \x87\x40\r\n"));

    // Once saved, the next day's page shows the file as it is.
    m_p->write("de.txt", "changed elsewhere\r\n");
    tickAt(QStringLiteral("2002-11-04T00:00:00.500"));
    QVERIFY(m_p->handOver());
    QCOMPARE(box()->text(), QStringLiteral("changed elsewhere"));
}

// Also runs under the address and leak sanitizers: each day's windows are new.
void TestClock::pageTakesTheKeyboardOnlyWhereItHadIt_data()
{
    QTest::addColumn<bool>("pageActive");
    QTest::newRow("the page had the keyboard") << true;
    QTest::newRow("another program had it") << false;
}

// At the start and at midnight alike: a page takes the keyboard only where
// the user was on the calendar; whoever went to another program keeps it.
void TestClock::pageTakesTheKeyboardOnlyWhereItHadIt()
{
    QFETCH(bool, pageActive);
    // The user goes to another program while the start's splash is up.
    m_p->platform.otherActive = true;
    QVERIFY(startAt("2002-12-31T23:59:59"));
    QVERIFY(m_p->form1->window()->testAttribute(Qt::WA_ShowWithoutActivating));
    QVERIFY(m_p->form1->window()->windowHandle()->property("_q_showWithoutActivating").toBool());
    m_p->platform.otherActive = !pageActive;
    m_p->form1->window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_p->form1->window()));

    QWidget other;
    if (!pageActive) {
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
    }
    tickAt(QStringLiteral("2003-01-01T00:00:00.100"));
    QCOMPARE(m_p->form2->window()->testAttribute(Qt::WA_ShowWithoutActivating), !pageActive);
    m_p->clock.set("2003-01-01T00:00:02.100");
    QVERIFY(m_p->handOver());
    QWidget *page = m_p->form1->window();
    QCOMPARE(page->windowHandle()->property("_q_showWithoutActivating").toBool(), !pageActive);
    if (pageActive) {
        QVERIFY(QTest::qWaitForWindowActive(page));
        QCOMPARE(QApplication::focusWidget(), box());
    }
}

void TestClock::manyDayChangesLeaveNothingBehind()
{
    const int days = qEnvironmentVariableIsSet("HIMEKURI_DAY_CHANGES")
        ? qEnvironmentVariableIntValue("HIMEKURI_DAY_CHANGES")
        : 1000;
    const QDate first(2002, 11, 2);
    QVERIFY(startAt("2002-11-02T10:00:00"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const qsizetype widgetsAtStart = QApplication::allWidgets().size();

    for (int day = 1; day <= days; ++day) {
        const QDate date = first.addDays(day);
        m_p->clock.set(QDateTime(date, QTime(0, 0, 0, 300)));
        QVERIFY(test::fire(*m_p->form1));
        QVERIFY(!m_p->form1->isLoaded());
        QVERIFY(m_p->handOver());
        QCOMPARE(caption("Label5"), date.toString(QStringLiteral("dd")));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(QApplication::allWidgets().size(), widgetsAtStart);
    }
    qInfo("%d day changes", days);
}

// The real clock, its time moved by faketime (CTest runs this function under
// it, in New York's zone): the change to daylight saving time at 2:00 on 7
// April 2002, and a clock set back, each read right away.
void TestClock::systemClockFollowsTheZoneAndAnyStep()
{
    const QString faked = qEnvironmentVariable("FAKETIME_TIMESTAMP_FILE");
    if (qEnvironmentVariable("TZ") != u"America/New_York" || faked.isEmpty())
        QSKIP("run under libfaketime, as CTest does");
    SystemClock clock;
    // libfaketime reads the time from the file at every call.
    const auto at = [&clock, &faked](const char *time) {
        QFile file(faked);
        return file.open(QIODevice::WriteOnly) && file.write(time) > 0 && file.flush()
            ? clock.now()
            : QDateTime();
    };
    const QDateTime before = at("2002-04-07 01:59:59\n");
    QCOMPARE(before.time().hour(), 1);
    QCOMPARE(before.offsetFromUtc(), -5 * 3600);
    const QDateTime after = at("2002-04-07 03:00:00\n");
    QCOMPARE(after.time().hour(), 3);
    QCOMPARE(after.offsetFromUtc(), -4 * 3600);
    QCOMPARE(before.secsTo(after), 1);
    const QDateTime back = at("2002-04-07 01:59:58\n");
    QCOMPARE(back.offsetFromUtc(), -5 * 3600);
    QCOMPARE(back.time(), QTime(1, 59, 58));
}

QTEST_MAIN(TestClock)
#include "tst_clock.moc"
