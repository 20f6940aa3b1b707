#include "datafiles.h"

#include "platform/cp932.h"
#include "platform/filesystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

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
WriteResult putInPlace(const QString &path, const QByteArray &bytes, os::FileReplacer::Mode mode)
{
    const std::unique_ptr<os::FileReplacer> replacer = os::makeFileReplacer();
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

WriteResult replaceContent(const QString &path, const QString &text, const QByteArray &lineEnd)
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
    return replaceBytes(path, bytes);
}

WriteResult replaceBytes(const QString &path, const QByteArray &bytes)
{
    if (!isUsable(path))
        return {noFolder(), {}};
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return {
            QStringLiteral("フォルダー %1 を作成できません").arg(QDir::toNativeSeparators(folder)),
            {}};
    const os::SaveTarget target = os::saveTarget(path);
    if (target.path.isEmpty())
        return {target.refusal, {}};
    return putInPlace(target.path, bytes, os::FileReplacer::Mode::Replace);
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

QString folderProblem(const QString &folder)
{
    if (!isUsable(folder))
        return noFolder();
    QString at = QDir::cleanPath(folder);
    QDir().mkpath(at);
    while (!QFileInfo(at).isDir() && QFileInfo(at).absolutePath() != at)
        at = QFileInfo(at).absolutePath();
    const std::unique_ptr<os::FileReplacer> trial = os::makeFileReplacer();
    const bool made =
        trial->open(at + QStringLiteral("/or.txt"), os::FileReplacer::Mode::CreateOnly);
    trial->cancel();
    return made ? QString() : trial->failure();
}

namespace {

// Far beyond anything the program writes (a line of 64 KiB, a picture of
// 4 MiB): a larger file is the user's doing, and not the move's to copy.
constexpr qint64 MoveBound = 64 * 1024 * 1024;

QString copyWhole(const QString &from, const QString &to)
{
    QFile source(from);
    qint64 size = 0;
    if (const QString refused = os::openRegularFile(source, &size); !refused.isEmpty())
        return refused;
    if (size > MoveBound)
        return QStringLiteral("ファイルが大きすぎます（%1 バイト）").arg(size);
    const std::unique_ptr<os::FileReplacer> copy = os::makeFileReplacer();
    bool copied = copy->open(to, os::FileReplacer::Mode::CreateOnly);
    while (copied && !source.atEnd()) {
        const QByteArray chunk = source.read(1024 * 1024);
        copied = source.error() == QFileDevice::NoError && copy->write(chunk) == chunk.size();
    }
    if (copied && copy->flush() && copy->commit())
        return {};
    const QString reason =
        source.error() != QFileDevice::NoError ? source.errorString() : copy->failure();
    copy->cancel();
    return reason.isEmpty() ? QStringLiteral("コピーが最後まで終わりませんでした") : reason;
}

} // namespace

FolderChoice settleDataFolder(const QString &from, const QString &to)
{
    if (from.isEmpty() || QFileInfo(to).isDir())
        return {to, {}};
    const DataPaths old {from};
    QStringList present;
    for (const QString &file : {old.messageBoard(), old.preference(), old.localPicture()}) {
        if (QFileInfo::exists(file) || QFileInfo(file).isSymLink())
            present << QFileInfo(file).fileName();
    }
    if (present.isEmpty())
        return {to, {}};
    const auto keepOld = [&](const QString &why) {
        return FolderChoice {
            from,
            QStringLiteral("以前のフォルダー %1 のファイルを %2 に移せませんでした。\n理由: %3\n"
                           "以前のフォルダーをそのまま使います。")
                .arg(QDir::toNativeSeparators(from), QDir::toNativeSeparators(to), why)};
    };
    const QString parent = QFileInfo(QDir::cleanPath(to)).absolutePath();
    if (!QDir().mkpath(parent))
        return keepOld(QStringLiteral("フォルダー %1 を作成できません").arg(parent));
    // Copied into a folder of its own beside the new one, which takes the
    // new one's name whole once every file is on the disk.
    QTemporaryDir staging(parent + QStringLiteral("/.himekuri-moving-XXXXXX"));
    if (!staging.isValid())
        return keepOld(staging.errorString());
    for (const QString &name : std::as_const(present)) {
        if (const QString failed = copyWhole(from + name, staging.filePath(name));
            !failed.isEmpty())
            return keepOld(name + QStringLiteral(": ") + failed);
    }
    if (!QDir().rename(staging.path(), QDir::cleanPath(to)))
        return QFileInfo(to).isDir() ? FolderChoice {to, {}}
                                     : keepOld(QStringLiteral("名前を変えられません"));
    staging.setAutoRemove(false);
    if (!os::syncFolder(parent))
        return {to, {}}; // moved; the old files stay until the move is surely on the disk
    for (const QString &name : std::as_const(present))
        QFile::remove(from + name);
    // The folders earlier versions made, where nothing else was put.
    QDir().rmdir(from);
    QDir().rmdir(QFileInfo(QDir::cleanPath(from)).absolutePath());
    return {to, {}};
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
