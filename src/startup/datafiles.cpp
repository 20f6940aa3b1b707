#include "datafiles.h"

#include "cp932.h"
#include "filesystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace himekuri {

namespace {

// With no home folder there is no install folder either; a relative path
// would quietly read and write wherever the program was started.
bool isUsable(const QString &path)
{
    return !path.isEmpty() && QDir::isAbsolutePath(path);
}

QString noFolder()
{
    return QStringLiteral("データのフォルダーがありません（ホームフォルダーが見つかりません）");
}

// Every step checked, the bytes on the disk before they take the file's place.
WriteResult putInPlace(const QString &path, const QByteArray &bytes, os::FileReplacer::Mode mode,
                       os::FileReplacer *replacer = nullptr)
{
    std::unique_ptr<os::FileReplacer> own;
    if (!replacer) {
        own = os::makeFileReplacer();
        replacer = own.get();
    }
    if (replacer->open(path, mode) && replacer->write(bytes) == bytes.size() && replacer->flush()
        && replacer->commit())
        return {{}, replacer->warning()};
    const QString reason = replacer->failure();
    replacer->cancel();
    return {reason.isEmpty() ? QStringLiteral("書き込みが最後まで終わりませんでした") : reason, {}};
}

} // namespace

ReadResult readFirstLine(const QString &path)
{
    if (!isUsable(path))
        return {std::nullopt, {}, noFolder()};
    QFile file(path);
    qint64 size = 0;
    if (const QString refused = os::openRegularFile(file, &size); !refused.isEmpty())
        return {std::nullopt, {}, refused};

    // Up to the first CR and the byte after it, and never past the bound.
    constexpr qint64 Chunk = 4096;
    QByteArray content;
    qsizetype cr = -1;
    while (cr < 0 && content.size() <= FirstLineBound) {
        const QByteArray chunk = file.read(Chunk);
        if (chunk.isEmpty())
            break;
        // 0x0D is never part of a two-byte character, so looking for it is safe.
        if (const qsizetype at = chunk.indexOf('\r'); at >= 0)
            cr = content.size() + at;
        content += chunk;
    }
    if (cr >= 0 && cr + 1 == content.size())
        content += file.read(1);
    if (file.error() != QFileDevice::NoError)
        return {std::nullopt, {}, file.errorString()};
    if (content.isEmpty())
        return {std::nullopt, {}, QStringLiteral("the file holds no line")};

    if (cr >= 0 && cr <= FirstLineBound) {
        const QByteArray lineEnd = content.mid(cr, 2) == CrLf ? QByteArray(CrLf) : QByteArray("\r");
        return {decodeCp932(content.left(cr)), lineEnd, {}};
    }
    if (content.size() > FirstLineBound) {
        const QByteArray cut = content.left(FirstLineBound);
        const qsizetype kept = wholeCharacters(cut);
        return {decodeCp932(cut.left(kept)), CrLf, {}, std::max<qint64>(size - kept, 1)};
    }
    return {decodeCp932(content), {}, {}};
}

WriteResult replaceContent(const QString &path, const QString &text, const QByteArray &lineEnd,
                           os::FileReplacer *replacer)
{
    if (!isUsable(path))
        return {noFolder(), {}};
    const Cp932Encoded encoded = encodeCp932(text);
    if (!encoded.ok())
        return {QStringLiteral("Shift-JIS で保存できない文字があります: ") + encoded.unencodable,
                {}};
    const QByteArray bytes = encoded.bytes + lineEnd;
    // What could not be read back whole is not written.
    const qsizetype cr = bytes.indexOf('\r');
    if ((cr < 0 ? bytes.size() : cr) > FirstLineBound)
        return {QStringLiteral("1 行が長すぎます（読み戻せるのは %1 バイトまでです）")
                    .arg(FirstLineBound),
                {}};

    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return {
            QStringLiteral("フォルダー %1 を作成できません").arg(QDir::toNativeSeparators(folder)),
            {}};

    const os::SaveTarget target = os::saveTarget(path);
    if (target.path.isEmpty())
        return {target.refusal, {}};
    return putInPlace(target.path, bytes, os::FileReplacer::Mode::Replace, replacer);
}

QString saveFailureMessage(const QString &what, const QString &path, const WriteResult &result)
{
    return QStringLiteral("%1を保存できませんでした。\nファイル: %2\n理由: %3")
        .arg(what, QDir::toNativeSeparators(path), result.reason);
}

bool createIfMissing(const QString &path, const QByteArray &bytes)
{
    if (!isUsable(path) || !QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    return putInPlace(path, bytes, os::FileReplacer::Mode::CreateOnly).ok();
}

void removeLeftoverSaves(const DataPaths &paths)
{
    if (paths.folder.isEmpty())
        return;
    const QStringList names =
        QDir(paths.folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        for (const QString &file :
             {paths.messageBoard(), paths.preference(), paths.localPicture()}) {
            if (os::isTemporaryName(name, QFileInfo(file).fileName()))
                os::removeOwnFile(paths.folder + name);
        }
    }
}

} // namespace himekuri
