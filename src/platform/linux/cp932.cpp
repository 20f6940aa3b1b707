#include "platform/cp932.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace himekuri::system932 {

namespace {
// ICU's converter behind this name is the Windows table (0x5C a backslash,
// 0x8160 U+FF5E, NEC and IBM extensions).
constexpr auto CodecName = "CP932";
} // namespace

QString decode(const QByteArray &bytes)
{
    // Stateless: a lead byte cut off at the end is not held back for more.
    QStringDecoder decoder(CodecName, QStringConverter::Flag::Stateless);
    return decoder(bytes);
}

std::optional<QByteArray> encode(const QString &text)
{
    // ICU writes FC FC for what it cannot hold, and only says so afterwards.
    QStringEncoder encoder(CodecName, QStringConverter::Flag::Stateless);
    QByteArray bytes = encoder(text);
    if (encoder.hasError())
        return std::nullopt;
    return bytes;
}

} // namespace himekuri::system932
