#pragma once

#include <QString>
#include <optional>
#include <span>

namespace himekuri {

// One row of the table of holidays and seasonal days that the page names.
// MonthDay rows hold every year and match "mmdd"; FullDate rows match one
// "yyyymmdd" only (the spring equinox, known for a few years).
struct HolidayRow
{
    enum class Kind { MonthDay, FullDate };
    Kind kind;
    const char16_t *key;
    const char16_t *name;
};

// The table in the order it is tried; the first matching row wins.
std::span<const HolidayRow> holidayTable();

// The name for a day, given the month and day texts as shown on the page and
// the day's "yyyymmdd" key.
std::optional<QString> findHoliday(const QString &monthDay, const QString &todayKey);

} // namespace himekuri
