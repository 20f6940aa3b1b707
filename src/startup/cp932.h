#pragma once

#include <QByteArray>
#include <QString>

namespace himekuri {

// The data files are Shift-JIS as Windows writes it (code page 932): 0x5C is a
// backslash, 0x8160 is U+FF5E, NEC special characters such as ① exist.

QString decodeCp932(const QByteArray &bytes);

// How many of the bytes make whole characters: a lead byte cut off at the end
// is not counted.
qsizetype wholeCharacters(const QByteArray &bytes);

struct Cp932Encoded
{
    QByteArray bytes;
    // Characters code page 932 cannot hold, each once, in order of appearance.
    // When any are present, bytes is empty: a substitute would lose them.
    QString unencodable;
    bool ok() const { return unencodable.isEmpty(); }
};

// Look-alikes that Linux input methods type are stored as the characters
// Windows uses for them (U+301C as U+FF5E, U+2212 as U+FF0D, ...).
Cp932Encoded encodeCp932(const QString &text);

} // namespace himekuri
