#include "cp932.h"

#include <QList>

namespace himekuri {

namespace {

QString windowsLookAlikes(QString text)
{
    static constexpr std::pair<char16_t, char16_t> Map[] = {
        {u'\u301C', u'\uFF5E'}, // wave dash → full-width tilde
        {u'\u2016', u'\u2225'}, // double vertical line → parallel to
        {u'\u2212', u'\uFF0D'}, // minus sign → full-width hyphen-minus
        {u'\u00A2', u'\uFFE0'}, // cent
        {u'\u00A3', u'\uFFE1'}, // pound
        {u'\u00AC', u'\uFFE2'}, // not sign
    };
    for (const auto &[from, to] : Map)
        text.replace(QChar(from), QChar(to));
    return text;
}

} // namespace

qsizetype wholeCharacters(const QByteArray &bytes)
{
    qsizetype i = 0;
    while (i < bytes.size()) {
        const qsizetype next = i + (isCp932LeadByte(uchar(bytes[i])) ? 2 : 1);
        if (next > bytes.size())
            return i;
        i = next;
    }
    return i;
}

QString decodeCp932(const QByteArray &bytes)
{
    QString text = system932::decode(bytes);
    // A lead byte cut off at the end: show that something was there.
    if (wholeCharacters(bytes) < bytes.size())
        text += QChar::ReplacementCharacter;
    return text;
}

qsizetype cp932Size(QStringView text)
{
    qsizetype size = 0;
    for (const QChar c : text)
        size += c.unicode() < 0x80 || (c.unicode() >= 0xFF61 && c.unicode() <= 0xFF9F) ? 1 : 2;
    return size;
}

Cp932Encoded encodeCp932(const QString &text)
{
    const QString mapped = windowsLookAlikes(text);
    if (std::optional<QByteArray> bytes = system932::encode(mapped))
        return {*bytes, {}};

    // Name the characters that have no bytes, each once.
    QString unencodable;
    const QList<uint> codePoints = mapped.toUcs4();
    for (const uint cp : codePoints) {
        const char32_t c = cp;
        const QString one = QString::fromUcs4(&c, 1);
        if (!unencodable.contains(one) && !system932::encode(one))
            unencodable += one;
    }
    if (unencodable.isEmpty())
        unencodable = QStringLiteral("\uFFFD");
    return {{}, unencodable};
}

} // namespace himekuri
