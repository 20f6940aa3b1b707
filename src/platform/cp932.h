#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace himekuri {

// The data files are Shift-JIS as Windows writes it (code page 932): 0x5C is a
// backslash, 0x8160 is U+FF5E, NEC special characters such as ① exist.

QString decodeCp932(const QByteArray &bytes);

// A byte that starts a two-byte character.
constexpr bool isCp932LeadByte(uchar b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

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

// How many bytes the text takes in code page 932: one for ASCII and
// half-width katakana, two for the rest (characters it cannot hold count
// as two; a save refuses them anyway).
qsizetype cp932Size(QStringView text);

// Look-alikes that Linux input methods type are stored as the characters
// Windows uses for them (U+301C as U+FF5E, U+2212 as U+FF0D, ...).
Cp932Encoded encodeCp932(const QString &text);

// The system's own converter for code page 932, one per platform: ICU where
// Qt has it, Windows itself elsewhere. The rest of the codec is shared.
namespace system932 {
// An unassigned double-byte character becomes U+FFFD, a byte that starts
// none U+001A; a lead byte cut off at the end is left out.
QString decode(const QByteArray &bytes);
// Empty when any character has no bytes of its own in code page 932.
std::optional<QByteArray> encode(const QString &text);
} // namespace system932

} // namespace himekuri
