#include "datafiles.h"

#include "cp932.h"
#include "filesystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

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

QString describe(int error, const QString &systemText)
{
    return os::isDiskFull(error) ? QStringLiteral("ディスクの空き容量が足りません") : systemText;
}

// QSaveFile alone is not enough: on a full disk Qt 6.4 renames a temporary
// file whose buffered write failed over the old file. Every step is checked
// here, and the bytes are on the disk before the rename.
class SaveFileReplacer final : public FileReplacer
{
public:
    bool open(const QString &path) override
    {
        m_file.emplace(path);
        return check(m_file->open(QIODevice::WriteOnly));
    }
    qint64 write(const QByteArray &bytes) override
    {
        const qint64 written = m_file->write(bytes);
        check(written == bytes.size());
        return written;
    }
    bool flush() override
    {
        return check(os::syncToDisk(*m_file) && m_file->error() == QFileDevice::NoError);
    }
    bool commit() override
    {
        if (!check(m_file->commit()))
            return false;
        os::syncFolder(QFileInfo(m_file->fileName()).absolutePath());
        return true;
    }
    void cancel() override
    {
        if (!m_file)
            return;
        m_file->cancelWriting();
        m_file.reset(); // removes the temporary file
    }
    QString failure() const override { return m_failure; }

private:
    bool check(bool ok)
    {
        if (!ok && m_failure.isEmpty())
            m_failure = describe(os::lastError(), m_file->errorString());
        return ok;
    }

    std::optional<QSaveFile> m_file;
    QString m_failure;
};

} // namespace

std::unique_ptr<FileReplacer> makeFileReplacer()
{
    return std::make_unique<SaveFileReplacer>();
}

ReadResult readFirstLine(const QString &path)
{
    if (!isUsable(path))
        return {std::nullopt, {}, noFolder()};
    QFile file(path);
    if (const QString refused = os::openRegularFile(file); !refused.isEmpty())
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
        return {decodeCp932(cut.left(wholeCharacters(cut))), CrLf, {}};
    }
    return {decodeCp932(content), {}, {}};
}

WriteResult replaceContent(const QString &path, const QString &text, const QByteArray &lineEnd,
                           FileReplacer *replacer)
{
    if (!isUsable(path))
        return {noFolder(), {}};
    const Cp932Encoded encoded = encodeCp932(text);
    if (!encoded.ok())
        return {QStringLiteral("Shift-JIS で保存できない文字があります: ") + encoded.unencodable,
                encoded.unencodable};
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

    std::unique_ptr<FileReplacer> own;
    if (!replacer) {
        own = makeFileReplacer();
        replacer = own.get();
    }
    if (replacer->open(path) && replacer->write(bytes) == bytes.size() && replacer->flush()
        && replacer->commit())
        return {};
    const QString reason = replacer->failure();
    replacer->cancel();
    return {reason.isEmpty() ? QStringLiteral("書き込みが最後まで終わりませんでした") : reason, {}};
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
    QFile file(path);
    // NewOnly: a file that appeared meanwhile is left alone.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    const bool written = file.write(bytes) == bytes.size() && os::syncToDisk(file);
    file.close();
    if (written && file.error() == QFileDevice::NoError)
        return true;
    file.remove();
    return false;
}

void removeLeftoverSaves(const DataPaths &paths)
{
    if (paths.folder.isEmpty())
        return;
    // QSaveFile's temporary files: the file's name and six letters or digits.
    static const QRegularExpression temporary(QStringLiteral("^(de|or)\\.txt\\.[A-Za-z0-9]{6}$"));
    const QFileInfoList entries =
        QDir(paths.folder)
            .entryInfoList({QStringLiteral("de.txt.*"), QStringLiteral("or.txt.*")},
                           QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo &entry : entries) {
        if (temporary.match(entry.fileName()).hasMatch())
            QFile::remove(entry.filePath());
    }
}

} // namespace himekuri
