#include "datetexts.h"

#include <array>

namespace himekuri {

namespace {

constexpr std::array<const char16_t *, 7> WeekdayNames = {
    u"月曜日", u"火曜日", u"水曜日", u"木曜日", u"金曜日", u"土曜日", u"日曜日",
};

QString twoDigits(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

QString fourDigits(int value)
{
    return QStringLiteral("%1").arg(value, 4, 10, QLatin1Char('0'));
}

} // namespace

QString weekdayName(int dayOfWeek)
{
    if (dayOfWeek < 1 || dayOfWeek > 7)
        return {};
    return QString::fromUtf16(WeekdayNames[dayOfWeek - 1]);
}

QString dateText(const QDateTime &when, DateText format)
{
    const QDate date = when.date();
    const QTime time = when.time();
    const bool beforeNoon = time.hour() < 12;
    switch (format) {
    case DateText::Key:
        return fourDigits(date.year()) + twoDigits(date.month()) + twoDigits(date.day());
    case DateText::Year:
        return fourDigits(date.year()) + u'年';
    case DateText::Month:
        return twoDigits(date.month());
    case DateText::Day:
        return twoDigits(date.day());
    case DateText::Weekday:
        return weekdayName(date.dayOfWeek());
    case DateText::Clock: {
        const int hour12 = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
        return twoDigits(hour12) + u'時' + twoDigits(time.minute()) + u'分'
            + twoDigits(time.second()) + u'秒' + (beforeNoon ? u'A' : u'P');
    }
    case DateText::AmPm:
        return beforeNoon ? QStringLiteral("a") : QStringLiteral("p");
    }
    return {};
}

} // namespace himekuri
