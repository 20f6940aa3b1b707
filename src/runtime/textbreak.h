#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace himekuri {

// How a label lays its text out: lines break only after a space or between two
// full-width characters, so a run of half-width characters (a number, a word)
// is never split; such a run wider than the box stays whole and is cut off.
// Line ends in the text always break.
QStringList breakLabelLines(const QString &text, qreal width,
                            const std::function<qreal(const QString &)> &measure);

bool isFullWidth(char32_t codePoint);

} // namespace himekuri
