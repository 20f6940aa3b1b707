#include "textbreak.h"

namespace himekuri {

namespace {

bool isSpace(char32_t c)
{
    return c == U' ' || c == U'\u3000';
}

// The units that a line never splits.
QStringList breakUnits(const QString &paragraph)
{
    const QList<uint> codePoints = paragraph.toUcs4();
    QStringList units;
    QString unit;
    for (qsizetype i = 0; i < codePoints.size(); ++i) {
        const char32_t c = codePoints[i];
        unit += QString::fromUcs4(&c, 1);
        const bool last = i + 1 == codePoints.size();
        if (last || isSpace(c)
            || (isFullWidth(c) && isFullWidth(char32_t(codePoints[i + 1]))
                && !isSpace(codePoints[i + 1]))) {
            units.append(unit);
            unit.clear();
        }
    }
    return units;
}

QString withoutTrailingSpaces(QString line)
{
    while (!line.isEmpty() && isSpace(line.back().unicode()))
        line.chop(1);
    return line;
}

} // namespace

bool isFullWidth(char32_t c)
{
    if (c < 0x100)
        return false;
    if (c >= 0xFF61 && c <= 0xFF9F) // half-width katakana
        return false;
    return true;
}

QStringList breakLabelLines(const QString &text, qreal width,
                            const std::function<qreal(const QString &)> &measure)
{
    QString normalised = text;
    normalised.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    normalised.replace(QLatin1Char('\r'), QLatin1Char('\n'));

    QStringList lines;
    const QStringList paragraphs = normalised.split(QLatin1Char('\n'));
    for (const QString &paragraph : paragraphs) {
        QString line;
        const QStringList units = breakUnits(paragraph);
        for (const QString &unit : units) {
            const QString candidate = line + unit;
            if (!line.isEmpty() && measure(withoutTrailingSpaces(candidate)) > width) {
                lines.append(line);
                line = unit;
            } else {
                line = candidate;
            }
        }
        lines.append(line);
    }
    return lines;
}

} // namespace himekuri
