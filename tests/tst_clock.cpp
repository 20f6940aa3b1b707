// The calendar's clock tick and the change of day it brings about.

#include "runtime/controls.h"
#include "testsupport.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace himekuri;

class TestClock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void tickWritesClockMarkAndDate_data();
    void tickWritesClockMarkAndDate();
    void ticksKeepToTheClocksSeconds();
    void midnightTurnsThePage();
    void tickThatMissedMidnightTurnsThePage_data();
    void tickThatMissedMidnightTurnsThePage();
    void unsavedMessageSurvivesTheDayChange();
    void manyDayChangesLeaveNothingBehind();

private:
    // The calendar on screen, reached the way a start reaches it.
    void startAt(const char *iso);
    void tick();
    void finishSplash();
    QString caption(const char *label) { return m_p->form1->control<Label>(label)->caption(); }
    bool isRed(const char *label)
    {
        return m_p->form1->control<Label>(label)->foreColor() == PureRed;
    }
    RichTextBox *box() { return m_p->form1->control<RichTextBox>("RichTextBox1"); }

    std::unique_ptr<test::Program> m_p;
};

void TestClock::initTestCase()
{
    installFontSubstitutes();
}

void TestClock::init()
{
    m_p = std::make_unique<test::Program>();
    m_p->write("or.txt", "N\r\n");
}

void TestClock::cleanup()
{
    QVERIFY2(m_p->messages.isEmpty(), qPrintable(m_p->messages.join(u'\n')));
    m_p.reset();
}

void TestClock::startAt(const char *iso)
{
    m_p->clock.set(iso);
    m_p->start();
    finishSplash();
    QVERIFY(m_p->form1->window()->isVisible());
}

void TestClock::finishSplash()
{
    QVERIFY(m_p->form2->isLoaded());
    auto *timer = m_p->form2->window()->findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY(QMetaObject::invokeMethod(timer, "timeout"));
    QVERIFY(!m_p->form2->isLoaded());
    QVERIFY(m_p->form1->isLoaded());
}

// The tick as the timer delivers it, with the connections the window made.
void TestClock::tick()
{
    auto *timer = m_p->form1->window()->findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY(QMetaObject::invokeMethod(timer, "timeout"));
}

void TestClock::tickWritesClockMarkAndDate_data()
{
    QTest::addColumn<QString>("at");
    QTest::addColumn<QString>("clock");
    QTest::addColumn<QString>("mark");

    QTest::newRow("last second of the day") << "2002-11-02T23:59:59"
                                            << "11時59分59秒P"
                                            << "午後";
    QTest::newRow("noon") << "2002-11-02T12:00:00"
                          << "12時00分00秒P"
                          << "午後";
    QTest::newRow("second before noon") << "2002-11-02T11:59:59.999"
                                        << "11時59分59秒A"
                                        << "午前";
    QTest::newRow("early morning") << "2002-11-02T03:07:09"
                                   << "03時07分09秒A"
                                   << "午前";
    QTest::newRow("afternoon") << "2002-11-02T15:07:09"
                               << "03時07分09秒P"
                               << "午後";
}

void TestClock::tickWritesClockMarkAndDate()
{
    QFETCH(QString, at);
    QFETCH(QString, clock);
    QFETCH(QString, mark);

    startAt("2002-11-02T10:00:00");
    // Blank until the first tick.
    QCOMPARE(caption("Label1"), QString());
    QCOMPARE(caption("Label11"), QString());

    // The date fields are rewritten too, whatever they showed.
    for (const char *name : {"Label8", "Label3", "Label5", "Label2"})
        m_p->form1->control<Label>(name)->setCaption(QStringLiteral("x"));
    m_p->clock.set(QDateTime::fromString(at, Qt::ISODateWithMs));
    tick();
    QCOMPARE(caption("Label1"), clock);
    QCOMPARE(caption("Label11"), mark);
    QCOMPARE(caption("Label8"), QStringLiteral("2002年"));
    QCOMPARE(caption("Label3"), QStringLiteral("11"));
    QCOMPARE(caption("Label5"), QStringLiteral("02"));
    QCOMPARE(caption("Label2"), QStringLiteral("土曜日"));
    QVERIFY(m_p->form1->window()->isVisible());
    QVERIFY(!m_p->form2->isLoaded());
}

void TestClock::ticksKeepToTheClocksSeconds()
{
    startAt("2002-11-02T10:00:00.250");
    auto *timer = m_p->form1->window()->findChild<QTimer *>(QStringLiteral("Timer1"));
    // The first tick comes a full second after the load.
    QCOMPARE(timer->interval(), 1000);
    QVERIFY(timer->isActive());

    // Later ones just after the clock's next second begins, wherever the
    // previous one fell.
    for (const auto &[at, wait] : {std::pair {"10:00:01.250", 770},
                                   {"10:00:02.995", 25},
                                   {"10:00:03.020", 1000},
                                   {"10:00:04.000", 1020}}) {
        m_p->clock.set(
            QDateTime(QDate(2002, 11, 2),
                      QTime::fromString(QLatin1String(at), QStringLiteral("hh:mm:ss.zzz"))));
        tick();
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), wait);
    }

    // A tick that turns the page leaves no timer running behind it.
    m_p->clock.set("2002-11-03T00:00:00.020");
    tick();
    QVERIFY(!m_p->form1->isLoaded());
    QVERIFY(!timer->isActive());
}

void TestClock::midnightTurnsThePage()
{
    startAt("2002-12-31T23:59:58");
    QCOMPARE(caption("Label9"), QStringLiteral("大晦日"));
    QVERIFY(isRed("Label5"));

    m_p->clock.set("2002-12-31T23:59:59.400");
    tick();
    QVERIFY(m_p->form1->isLoaded());
    QVERIFY(!m_p->form2->isLoaded());

    m_p->clock.set("2003-01-01T00:00:00.400");
    tick();
    // The splash takes over and the old page is gone...
    QVERIFY(!m_p->form1->isLoaded());
    QVERIFY(m_p->form2->isLoaded() && m_p->form2->window()->isVisible());
    QVERIFY(!m_p->exitCode);

    // ...until a fresh one computes the new day.
    m_p->clock.set("2003-01-01T00:00:02.400");
    finishSplash();
    QVERIFY(m_p->form1->window()->isVisible());
    QCOMPARE(m_p->form1->todayKey(), QStringLiteral("20030101"));
    QCOMPARE(caption("Label8"), QStringLiteral("2003年"));
    QCOMPARE(caption("Label3"), QStringLiteral("01"));
    QCOMPARE(caption("Label5"), QStringLiteral("01"));
    QCOMPARE(caption("Label9"), QStringLiteral("元日"));
    for (const char *name : {"Label3", "Label5", "Label2", "Label9"})
        QVERIFY2(isRed(name), name);
}

void TestClock::tickThatMissedMidnightTurnsThePage_data()
{
    QTest::addColumn<QString>("next");
    QTest::addColumn<QString>("day");
    QTest::addColumn<QString>("holiday");

    // 2 November 2002 is a plain Saturday; the 3rd is Culture Day.
    QTest::newRow("late by a second") << "2002-11-03T00:00:01.000"
                                      << "03"
                                      << "文化の日";
    QTest::newRow("resumed days later") << "2002-11-23T09:30:00"
                                        << "23"
                                        << "勤労感謝の日";
    QTest::newRow("clock set back a day") << "2002-11-01T23:00:00"
                                          << "01"
                                          << "";
}

void TestClock::tickThatMissedMidnightTurnsThePage()
{
    QFETCH(QString, next);
    QFETCH(QString, day);
    QFETCH(QString, holiday);

    startAt("2002-11-02T23:59:59.900");
    m_p->clock.set(QDateTime::fromString(next, Qt::ISODateWithMs));
    tick();
    QVERIFY(!m_p->form1->isLoaded());
    QVERIFY(m_p->form2->isLoaded());

    finishSplash();
    QCOMPARE(caption("Label5"), day);
    QCOMPARE(caption("Label9"), holiday);
    QCOMPARE(isRed("Label5"), !holiday.isEmpty());
}

void TestClock::unsavedMessageSurvivesTheDayChange()
{
    m_p->write("de.txt", "saved\r\n");
    startAt("2002-11-02T23:59:59.500");
    box()->setText(QStringLiteral("明日の予定 ①"));

    m_p->clock.set("2002-11-03T00:00:00.500");
    tick();
    finishSplash();
    QCOMPARE(box()->text(), QStringLiteral("明日の予定 ①"));
    // Still only typed: the file changes when the user saves.
    QCOMPARE(m_p->read("de.txt"), QByteArray("saved\r\n"));
    QTest::mouseClick(m_p->form1->control<QPushButton>("Command2"), Qt::LeftButton);
    QCOMPARE(m_p->read("de.txt"),
             QByteArray("\x96\xBE\x93\xFA\x82\xCC\x97\x5C\x92\xE8 \x87\x40\r\n"));

    // Once saved, the next day's page shows the file as it is.
    m_p->write("de.txt", "changed elsewhere\r\n");
    m_p->clock.set("2002-11-04T00:00:00.500");
    tick();
    finishSplash();
    QCOMPARE(box()->text(), QStringLiteral("changed elsewhere"));
}

// Runs under the address and leak sanitizers in the debug build: every change
// of day makes the windows afresh, and nothing of the old ones may stay.
void TestClock::manyDayChangesLeaveNothingBehind()
{
    const int days = qEnvironmentVariableIsSet("HIMEKURI_DAY_CHANGES")
        ? qEnvironmentVariableIntValue("HIMEKURI_DAY_CHANGES")
        : 1000;
    const QDate first(2002, 11, 2);
    startAt("2002-11-02T10:00:00");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const qsizetype widgetsAtStart = QApplication::allWidgets().size();

    for (int day = 1; day <= days; ++day) {
        const QDate date = first.addDays(day);
        m_p->clock.set(QDateTime(date, QTime(0, 0, 0, 300)));
        tick();
        QVERIFY(!m_p->form1->isLoaded());
        finishSplash();
        QCOMPARE(m_p->form1->todayKey(), date.toString(QStringLiteral("yyyyMMdd")));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(QApplication::allWidgets().size(), widgetsAtStart);
    }
    qInfo("%d day changes", days);
}

QTEST_MAIN(TestClock)
#include "tst_clock.moc"
