#include "holidays.h"

#include <array>

namespace himekuri {

namespace {

using K = HolidayRow::Kind;

// What the product ships: fixed month-days, no substitute holidays, and
// Christmas and New Year's Eve marked like public holidays.
constexpr std::array<HolidayRow, 21> Table = {{
    {K::MonthDay, u"0101", u"元日"},
    {K::MonthDay, u"0114", u"成人の日"},
    {K::MonthDay, u"0211", u"建国記念日"},
    {K::FullDate, u"20020321", u"春分の日"},
    {K::FullDate, u"20030321", u"春分の日"},
    {K::FullDate, u"20040320", u"春分の日"},
    {K::FullDate, u"20050320", u"春分の日"},
    {K::MonthDay, u"0429", u"みどりの日"},
    {K::MonthDay, u"0503", u"憲法記念日"},
    {K::MonthDay, u"0504", u"国民の休日"},
    {K::MonthDay, u"0505", u"こどもの日"},
    {K::MonthDay, u"0720", u"海の日"},
    {K::MonthDay, u"0915", u"敬老の日"},
    {K::MonthDay, u"0923", u"秋分の日"},
    {K::MonthDay, u"1014", u"体育の日"},
    {K::MonthDay, u"1103", u"文化の日"},
    {K::MonthDay, u"1123", u"勤労感謝の日"},
    {K::MonthDay, u"1223", u"天皇誕生日"},
    {K::MonthDay, u"1224", u"クリスマス・イブ"},
    {K::MonthDay, u"1225", u"クリスマス"},
    {K::MonthDay, u"1231", u"大晦日"},
}};

} // namespace

std::span<const HolidayRow> holidayTable()
{
    return Table;
}

std::optional<QString> findHoliday(const QString &monthDay, const QString &todayKey)
{
    for (const HolidayRow &row : Table) {
        const QString &probe = row.kind == K::MonthDay ? monthDay : todayKey;
        if (probe == QStringView(row.key))
            return QString::fromUtf16(row.name);
    }
    return std::nullopt;
}

} // namespace himekuri
