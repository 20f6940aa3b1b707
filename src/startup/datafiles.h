#pragma once

#include <QString>
#include <optional>

namespace himekuri {

// The install folder's files. Text files hold one line: a line ends at CR, an
// LF right after the CR belongs to it, a lone LF does not end a line. Writing
// a value writes its text and CR LF. Every access opens, reads or writes, and
// closes within one call.
struct DataPaths
{
    QString folder; // ends with a separator

    QString messageBoard() const { return folder + QStringLiteral("de.txt"); }
    QString preference() const { return folder + QStringLiteral("or.txt"); }
    QString localPicture() const { return folder + QStringLiteral("dntl.gif"); }
};

inline constexpr char CrLf[] = "\r\n";

struct ReadResult
{
    std::optional<QString> line;
    QByteArray lineEnd; // as found: CR LF, a lone CR, or nothing at the end of the file
    QString reason; // why there is no line
};

// Fails when the file cannot be opened or holds no line (an empty file).
ReadResult readFirstLine(const QString &path);

struct WriteResult
{
    QString reason; // empty on success
    QString unencodable; // characters the file's code page cannot hold
    bool ok() const { return reason.isEmpty(); }
};

// Replaces the whole file with text and a line end. The old content stays
// intact unless the new one was written completely; the folder is made when
// missing; text that the code page cannot hold is refused, not mangled.
// A file read without a line end is written back the way it was found.
WriteResult replaceContent(const QString &path, const QString &text,
                           const QByteArray &lineEnd = CrLf);

// A message for the user: what could not be saved, the file, and why.
QString saveFailureMessage(const QString &what, const QString &path, const WriteResult &result);

// Creates the file with the given bytes unless it exists; never overwrites.
bool createIfMissing(const QString &path, const QByteArray &bytes);

} // namespace himekuri
