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
    // Key, year, month, day, weekday ("*": not checked), clock, a/p.
    QTest::addColumn<QString>("texts");
    const char *rows[][3] = {
        {"afternoon", "2002-03-21T15:07:09", "20020321 2002年 03 21 木曜日 03時07分09秒P p"},
        {"midnight", "2002-11-03T00:00:00", "20021103 2002年 11 03 日曜日 12時00分00秒A a"},
        {"noon", "2004-02-29T12:00:00", "20040229 2004年 02 29 日曜日 12時00分00秒P p"},
        {"one past noon", "2005-12-30T13:00:00", "20051230 2005年 12 30 金曜日 01時00分00秒P p"},
        {"early year", "0999-07-20T09:00:00", "09990720 0999年 07 20 * 09時00分00秒A a"},
    };
    for (const auto &row : rows)
        QTest::newRow(row[0]) << at(row[1]) << QString(row[2]);
}

void TestDateTexts::formats()
{
    QFETCH(QDateTime, when);
    QFETCH(QString, texts);
    QStringList got;
    for (DateText format : {DateText::Key, DateText::Year, DateText::Month, DateText::Day,
                            DateText::Weekday, DateText::Clock, DateText::AmPm})
        got << dateText(when, format);
    if (texts.split(u' ').value(4) == u"*")
        got[4] = QStringLiteral("*");
    QCOMPARE(got.join(u' '), texts);
}

void TestDateTexts::weekdaysDoNotFollowTheLocale()
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(dateText(at("2002-11-03T10:00:00"), DateText::Weekday), QStringLiteral("日曜日"));
    QCOMPARE(dateText(at("2002-11-02T10:00:00"), DateText::Weekday), QStringLiteral("土曜日"));
    QLocale::setDefault(saved);
    QCOMPARE(dateText(at("2002-11-03T00:00:00"), DateText::Clock),
             QString::fromUtf16(MidnightClockText));
}

void TestDateTexts::holidays_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("name");
    const char *rows[][3] = {
        {"new year", "2010-01-01", "元日"},
        {"14 January any year", "2003-01-14", "成人の日"},
        {"second Monday of January 2003 is not named", "2003-01-13", ""},
        {"equinox 2002", "2002-03-21", "春分の日"},
        {"equinox 2004", "2004-03-20", "春分の日"},
        {"21 March 2004 is no equinox", "2004-03-21", ""},
        {"21 March 2006 is not known", "2006-03-21", ""},
        {"4 May on a Sunday", "2003-05-04", "国民の休日"},
        {"4 May on a Saturday", "2002-05-04", "国民の休日"},
        {"autumn equinox fixed", "2020-09-23", "秋分の日"},
        {"sports day any year", "2030-10-14", "体育の日"},
        {"culture day", "2002-11-03", "文化の日"},
        {"christmas eve", "2002-12-24", "クリスマス・イブ"},
        {"no substitute holiday", "2002-11-04", ""},
        {"ordinary Saturday", "2002-11-02", ""},
    };
    for (const auto &row : rows)
        QTest::newRow(row[0]) << QString(row[1]) << QString(row[2]);
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
