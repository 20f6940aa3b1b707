#include "datetexts.h"

#include <array>

namespace himekuri {

namespace {

constexpr std::array<const char16_t *, 7> WeekdayNames = {
    u"月曜日", u"火曜日", u"水曜日", u"木曜日", u"金曜日", u"土曜日", u"日曜日",
};

// The clock renders seven of these a second: digits written into a buffer,
// one string made of it, no format string.
class Text
{
public:
    Text &number(int value, int width)
    {
        char16_t reversed[12];
        int count = 0;
        do {
            reversed[count++] = char16_t(u'0' + value % 10);
            value /= 10;
        } while (value > 0 && count < 12);
        while (count < width)
            reversed[count++] = u'0';
        while (count > 0)
            m_text[m_size++] = reversed[--count];
        return *this;
    }
    Text &operator<<(char16_t c)
    {
        m_text[m_size++] = c;
        return *this;
    }
    QString string() const { return QString(reinterpret_cast<const QChar *>(m_text), m_size); }

private:
    char16_t m_text[32];
    int m_size = 0;
};

} // namespace

QString weekdayName(int dayOfWeek)
{
    if (dayOfWeek < 1 || dayOfWeek > 7)
        return {};
    return QString::fromUtf16(WeekdayNames[dayOfWeek - 1]);
}

QString dateText(const QDateTime &when, DateText format)
{
    switch (format) {
    case DateText::Key: {
        const QDate date = when.date();
        return Text().number(date.year(), 4).number(date.month(), 2).number(date.day(), 2).string();
    }
    case DateText::Year: {
        Text text;
        text.number(when.date().year(), 4) << u'年';
        return text.string();
    }
    case DateText::Month:
        return Text().number(when.date().month(), 2).string();
    case DateText::Day:
        return Text().number(when.date().day(), 2).string();
    case DateText::Weekday:
        return weekdayName(when.date().dayOfWeek());
    case DateText::Clock: {
        const QTime time = when.time();
        const int hour12 = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
        Text text;
        text.number(hour12, 2) << u'時';
        text.number(time.minute(), 2) << u'分';
        text.number(time.second(), 2) << u'秒' << (time.hour() < 12 ? u'A' : u'P');
        return text.string();
    }
    case DateText::AmPm:
        return when.time().hour() < 12 ? QStringLiteral("a") : QStringLiteral("p");
    }
    return {};
}

} // namespace himekuri
