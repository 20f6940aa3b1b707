#include "platform/cp932.h"

#include <windows.h>

namespace himekuri::system932 {

namespace {

constexpr UINT CodePage = 932;

bool isTrailByte(uchar b)
{
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

// Null when the bytes are not all valid.
std::optional<QString> decodeStrictly(const char *bytes, int size)
{
    if (size == 0)
        return QString();
    const int length = MultiByteToWideChar(CodePage, MB_ERR_INVALID_CHARS, bytes, size, nullptr, 0);
    if (length <= 0)
        return std::nullopt;
    QString text(length, Qt::Uninitialized);
    MultiByteToWideChar(CodePage, MB_ERR_INVALID_CHARS, bytes, size,
                        reinterpret_cast<wchar_t *>(text.data()), length);
    return text;
}

} // namespace

// Invalid bytes come out as ICU has them on Linux, so that a file reads the
// same on both.
QString decode(const QByteArray &bytes)
{
    if (std::optional<QString> whole = decodeStrictly(bytes.constData(), int(bytes.size())))
        return *whole;
    QString text;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const uchar b = uchar(bytes[i]);
        if (!isCp932LeadByte(b)) {
            text += decodeStrictly(bytes.constData() + i, 1).value_or(QStringLiteral("\u001A"));
            ++i;
        } else if (i + 1 == bytes.size()) {
            break; // cut off
        } else if (isTrailByte(uchar(bytes[i + 1]))) {
            text += decodeStrictly(bytes.constData() + i, 2).value_or(QStringLiteral("\uFFFD"));
            i += 2;
        } else {
            text += QChar(0x1A);
            ++i;
        }
    }
    return text;
}

std::optional<QByteArray> encode(const QString &text)
{
    if (text.isEmpty())
        return QByteArray();
    const auto *wide = reinterpret_cast<const wchar_t *>(text.utf16());
    const int size = int(text.size());
    // WC_NO_BEST_FIT_CHARS: no é written as e, no ¥ as a backslash; what has
    // no bytes of its own is told by usedDefault.
    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(CodePage, WC_NO_BEST_FIT_CHARS, wide, size, nullptr, 0,
                                           nullptr, &usedDefault);
    if (length <= 0 || usedDefault)
        return std::nullopt;
    QByteArray bytes(length, Qt::Uninitialized);
    WideCharToMultiByte(CodePage, WC_NO_BEST_FIT_CHARS, wide, size, bytes.data(), length, nullptr,
                        &usedDefault);
    if (usedDefault)
        return std::nullopt;
    return bytes;
}

} // namespace himekuri::system932
