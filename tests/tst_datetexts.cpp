#include "calendar/datetexts.h"
#include "calendar/holidays.h"

#include <QTest>

using namespace himekuri;

class TestDateTexts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void formats_data();
    void formats();
    void weekdaysDoNotFollowTheLocale();
    void holidayTableIsTheShippedOne();
    void holidays_data();
    void holidays();
};

static QDateTime at(const char *iso)
{
    return QDateTime::fromString(QLatin1String(iso), Qt::ISODate);
}

void TestDateTexts::formats_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("year");
    QTest::addColumn<QString>("month");
    QTest::addColumn<QString>("day");
    QTest::addColumn<QString>("weekday");
    QTest::addColumn<QString>("clock");
    QTest::addColumn<QString>("ampm");

    QTest::newRow("afternoon") << at("2002-03-21T15:07:09") << "20020321"
                               << "2002年"
                               << "03"
                               << "21"
                               << "木曜日"
                               << "03時07分09秒P"
                               << "p";
    QTest::newRow("midnight") << at("2002-11-03T00:00:00") << "20021103"
                              << "2002年"
                              << "11"
                              << "03"
                              << "日曜日"
                              << "12時00分00秒A"
                              << "a";
    QTest::newRow("last second before noon") << at("2003-01-13T11:59:59") << "20030113"
                                             << "2003年"
                                             << "01"
                                             << "13"
                                             << "月曜日"
                                             << "11時59分59秒A"
                                             << "a";
    QTest::newRow("noon") << at("2004-02-29T12:00:00") << "20040229"
                          << "2004年"
                          << "02"
                          << "29"
                          << "日曜日"
                          << "12時00分00秒P"
                          << "p";
    QTest::newRow("one past noon") << at("2005-12-31T13:00:00") << "20051231"
                                   << "2005年"
                                   << "12"
                                   << "31"
                                   << "土曜日"
                                   << "01時00分00秒P"
                                   << "p";
    QTest::newRow("last second of the day") << at("2002-12-31T23:59:59") << "20021231"
                                            << "2002年"
                                            << "12"
                                            << "31"
                                            << "火曜日"
                                            << "11時59分59秒P"
                                            << "p";
    QTest::newRow("one past midnight") << at("2006-05-04T01:02:03") << "20060504"
                                       << "2006年"
                                       << "05"
                                       << "04"
                                       << "木曜日"
                                       << "01時02分03秒A"
                                       << "a";
    QTest::newRow("early year") << at("0999-07-20T09:00:00") << "09990720"
                                << "0999年"
                                << "07"
                                << "20" << QString() << "09時00分00秒A"
                                << "a";
}

void TestDateTexts::formats()
{
    QFETCH(QDateTime, when);
    QTEST(dateText(when, DateText::Key), "key");
    QTEST(dateText(when, DateText::Year), "year");
    QTEST(dateText(when, DateText::Month), "month");
    QTEST(dateText(when, DateText::Day), "day");
    QFETCH(QString, weekday);
    if (!weekday.isEmpty())
        QCOMPARE(dateText(when, DateText::Weekday), weekday);
    QTEST(dateText(when, DateText::Clock), "clock");
    QTEST(dateText(when, DateText::AmPm), "ampm");
}

void TestDateTexts::weekdaysDoNotFollowTheLocale()
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(dateText(at("2002-11-03T10:00:00"), DateText::Weekday), QStringLiteral("日曜日"));
    QCOMPARE(dateText(at("2002-11-02T10:00:00"), DateText::Weekday), QStringLiteral("土曜日"));
    QLocale::setDefault(saved);
    const QStringList week = {"月曜日", "火曜日", "水曜日", "木曜日", "金曜日", "土曜日", "日曜日"};
    for (int day = 1; day <= 7; ++day)
        QCOMPARE(weekdayName(day), week[day - 1]);
    QCOMPARE(dateText(at("2002-11-03T00:00:00"), DateText::Clock),
             QString::fromUtf16(MidnightClockText));
}

void TestDateTexts::holidayTableIsTheShippedOne()
{
    const auto table = holidayTable();
    QCOMPARE(table.size(), std::size_t(21));
    int fullDates = 0;
    for (const HolidayRow &row : table) {
        const QString key = QString::fromUtf16(row.key);
        if (row.kind == HolidayRow::Kind::FullDate) {
            ++fullDates;
            QCOMPARE(key.size(), 8);
            QCOMPARE(QString::fromUtf16(row.name), QStringLiteral("春分の日"));
        } else {
            QCOMPARE(key.size(), 4);
        }
    }
    QCOMPARE(fullDates, 4);
    QCOMPARE(QString::fromUtf16(table.front().name), QStringLiteral("元日"));
    QCOMPARE(QString::fromUtf16(table.back().name), QStringLiteral("大晦日"));
}

void TestDateTexts::holidays_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("name");

    QTest::newRow("new year") << "2010-01-01"
                              << "元日";
    QTest::newRow("14 January any year") << "2003-01-14"
                                         << "成人の日";
    QTest::newRow("second Monday of January 2003 is not named") << "2003-01-13"
                                                                << "";
    QTest::newRow("foundation day") << "1999-02-11"
                                    << "建国記念日";
    QTest::newRow("equinox 2002") << "2002-03-21"
                                  << "春分の日";
    QTest::newRow("equinox 2003") << "2003-03-21"
                                  << "春分の日";
    QTest::newRow("equinox 2004") << "2004-03-20"
                                  << "春分の日";
    QTest::newRow("equinox 2005") << "2005-03-20"
                                  << "春分の日";
    QTest::newRow("21 March 2004 is no equinox") << "2004-03-21"
                                                 << "";
    QTest::newRow("21 March 2006 is not known") << "2006-03-21"
                                                << "";
    QTest::newRow("greenery day") << "2002-04-29"
                                  << "みどりの日";
    QTest::newRow("constitution day") << "2002-05-03"
                                      << "憲法記念日";
    QTest::newRow("4 May on a Sunday") << "2003-05-04"
                                       << "国民の休日";
    QTest::newRow("4 May on a Saturday") << "2002-05-04"
                                         << "国民の休日";
    QTest::newRow("children's day") << "2002-05-05"
                                    << "こどもの日";
    QTest::newRow("marine day") << "2002-07-20"
                                << "海の日";
    QTest::newRow("respect for the aged") << "2002-09-15"
                                          << "敬老の日";
    QTest::newRow("autumn equinox fixed") << "2020-09-23"
                                          << "秋分の日";
    QTest::newRow("sports day any year") << "2030-10-14"
                                         << "体育の日";
    QTest::newRow("culture day") << "2002-11-03"
                                 << "文化の日";
    QTest::newRow("labour thanksgiving") << "2002-11-23"
                                         << "勤労感謝の日";
    QTest::newRow("emperor's birthday") << "2002-12-23"
                                        << "天皇誕生日";
    QTest::newRow("christmas eve") << "2002-12-24"
                                   << "クリスマス・イブ";
    QTest::newRow("christmas") << "2002-12-25"
                               << "クリスマス";
    QTest::newRow("new year's eve") << "2002-12-31"
                                    << "大晦日";
    QTest::newRow("no substitute holiday") << "2002-11-04"
                                           << "";
    QTest::newRow("ordinary Saturday") << "2002-11-02"
                                       << "";
}

void TestDateTexts::holidays()
{
    QFETCH(QString, date);
    QFETCH(QString, name);
    const QDateTime when = QDateTime(QDate::fromString(date, Qt::ISODate), QTime(10, 0));
    const auto found = findHoliday(dateText(when, DateText::Month) + dateText(when, DateText::Day),
                                   dateText(when, DateText::Key));
    QCOMPARE(found.value_or(QString()), name);
}

QTEST_GUILESS_MAIN(TestDateTexts)
#include "tst_datetexts.moc"
