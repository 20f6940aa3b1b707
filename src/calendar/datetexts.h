#pragma once

#include <QDateTime>
#include <QString>

namespace himekuri {

// The fixed renderings of the local date and time that the calendar page and
// its clock show. They never consult the system locale: the page must read the
// same on any desktop, and the Sunday test compares against "日曜日".
enum class DateText {
    Key, // "yyyymmdd"      20020321
    Year, // "yyyy年"        2002年
    Month, // "mm"            03
    Day, // "dd"            21
    Weekday, // "aaaa"          木曜日
    Clock, // "hh時mm分ss秒A/P" 03時07分09秒P
    AmPm, // "a/p"           p
};

QString dateText(const QDateTime &when, DateText format);

// Japanese weekday name for Qt's day of week (1 = Monday ... 7 = Sunday).
QString weekdayName(int dayOfWeek);

// The clock text of the first second of a day: the tick that shows it turns the page.
inline constexpr char16_t MidnightClockText[] = u"12時00分00秒A";
inline constexpr char16_t SundayText[] = u"日曜日";

} // namespace himekuri
