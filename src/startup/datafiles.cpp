#include "datafiles.h"

#include "cp932.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace himekuri {

ReadResult readFirstLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt, {}, file.errorString()};
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {std::nullopt, {}, file.errorString()};
    if (content.isEmpty())
        return {std::nullopt, {}, QStringLiteral("the file holds no line")};
    // 0x0D is never part of a two-byte character, so cutting the bytes is safe.
    const qsizetype end = content.indexOf('\r');
    if (end < 0)
        return {decodeCp932(content), {}, {}};
    const QByteArray lineEnd = content.mid(end, 2) == CrLf ? QByteArray(CrLf) : QByteArray("\r");
    return {decodeCp932(content.left(end)), lineEnd, {}};
}

WriteResult replaceContent(const QString &path, const QString &text, const QByteArray &lineEnd)
{
    const Cp932Encoded encoded = encodeCp932(text);
    if (!encoded.ok())
        return {QStringLiteral("Shift-JIS で保存できない文字があります: ") + encoded.unencodable,
                encoded.unencodable};

    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return {
            QStringLiteral("フォルダー %1 を作成できません").arg(QDir::toNativeSeparators(folder)),
            {}};

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {file.errorString(), {}};
    file.write(encoded.bytes + lineEnd);
    if (!file.commit())
        return {file.errorString(), {}};
    return {};
}

QString saveFailureMessage(const QString &what, const QString &path, const WriteResult &result)
{
    return QStringLiteral("%1を保存できませんでした。\nファイル: %2\n理由: %3")
        .arg(what, QDir::toNativeSeparators(path), result.reason);
}

bool createIfMissing(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    // NewOnly: a file that appeared meanwhile is left alone.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    const bool written = file.write(bytes) == bytes.size();
    file.close();
    if (!written)
        file.remove();
    return written;
}

} // namespace himekuri
