#include "filesystem.h"

#include <QFile>
#include <QRandomGenerator>

namespace himekuri::os {

namespace {

QString temporaryPrefix(const QString &fileName)
{
    return u'.' + fileName + QStringLiteral(".himekuri-");
}

constexpr int Letters = 6;

bool isLetterOrDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

} // namespace

QString temporaryName(const QString &fileName)
{
    static constexpr char Alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString name = temporaryPrefix(fileName);
    for (int i = 0; i < Letters; ++i)
        name += QLatin1Char(Alphabet[QRandomGenerator::global()->bounded(62)]);
    return name;
}

bool isTemporaryName(const QString &candidate, const QString &fileName)
{
    const QString prefix = temporaryPrefix(fileName);
    if (candidate.size() != prefix.size() + Letters || !candidate.startsWith(prefix))
        return false;
    const QStringView letters = QStringView(candidate).mid(prefix.size());
    return std::all_of(letters.begin(), letters.end(), isLetterOrDigit);
}

FileBytes readRegularFile(const QString &path, qint64 maxBytes)
{
    QFile file(path);
    qint64 size = 0;
    if (const QString refused = openRegularFile(file, &size); !refused.isEmpty())
        return {std::nullopt, refused};
    // The size may change while it is read: what is read is what counts.
    QByteArray bytes = size > maxBytes ? QByteArray() : file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return {std::nullopt, file.errorString()};
    if (size > maxBytes || bytes.size() > maxBytes) {
        return {
            std::nullopt,
            QStringLiteral("ファイルが大きすぎます（読めるのは %1 バイトまでです）").arg(maxBytes)};
    }
    return {std::move(bytes), {}};
}

} // namespace himekuri::os
