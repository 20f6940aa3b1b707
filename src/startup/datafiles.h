#pragma once

#include "platform/filesystem.h"

#include <QString>
#include <memory>
#include <optional>

namespace himekuri {

// The install folder's files. Text files hold one line: a line ends at CR, an
// LF right after the CR belongs to it, a lone LF does not end a line. Writing
// a value writes its text and CR LF. Every access opens, reads or writes, and
// closes within one call.
struct DataPaths
{
    QString folder; // ends with a separator; empty when there is none

    QString messageBoard() const { return file("de.txt"); }
    QString preference() const { return file("or.txt"); }
    QString localPicture() const { return file("dntl.gif"); }

private:
    QString file(const char *name) const
    {
        return folder.isEmpty() ? QString() : folder + QLatin1String(name);
    }
};

inline constexpr char CrLf[] = "\r\n";

// A first line is read up to this many bytes and no further. A message board
// is a line or two; at this length the box still takes a few milliseconds,
// while a file of any size (or one that never ends) costs no more than this.
inline constexpr qsizetype FirstLineBound = 64 * 1024;

// A picture is read whole, up to this many bytes: far more than the pane's
// 249 x 81 pixels ever need.
inline constexpr qint64 PictureBound = 4 * 1024 * 1024;

struct ReadResult
{
    std::optional<QString> line;
    QByteArray lineEnd; // as found: CR LF, a lone CR, or nothing at the end of the file
    QString reason; // why there is no line
    // The line was cut at the bound: of the file's bytes, this many were not read.
    qint64 bytesLeftUnread = 0;
};

// Fails when the file cannot be opened, is no regular file (a FIFO, a device,
// a folder) or holds no line (an empty file). A line longer than the bound is
// cut there, at a character's end, and counts as ending in CR LF.
ReadResult readFirstLine(const QString &path);

struct WriteResult
{
    QString reason; // empty on success
    QString warning; // saved, but not as safely as it should be
    bool ok() const { return reason.isEmpty(); }
};

// Replaces the whole file with text and a line end: either every byte is on
// the disk and the file replaced, or the old file stays byte for byte and the
// result says why. The folder is made when missing; text that the code page
// cannot hold, or a line too long to be read back, is refused, not mangled;
// so is a file that is not the user's own regular file (os::saveTarget). A
// file read without a line end is written back the way it was found.
WriteResult replaceContent(const QString &path, const QString &text,
                           const QByteArray &lineEnd = CrLf);

// Replaces the whole file with these bytes, as replaceContent does.
WriteResult replaceBytes(const QString &path, const QByteArray &bytes);

// A message for the user: what could not be saved, the file, and why.
QString saveFailureMessage(const QString &what, const QString &path, const WriteResult &result);

// Creates the file with the given bytes unless it exists; never overwrites.
// The file appears whole or not at all.
bool createIfMissing(const QString &path, const QByteArray &bytes);

// Why no data file can be written in the folder (made first when missing),
// in the system's words; empty when one can. A folder that cannot be made is
// judged by its nearest parent that exists.
QString folderProblem(const QString &folder);

struct FolderChoice
{
    QString folder; // the data folder to use, ending with a separator
    QString warning; // what the user should hear once
};

// The data folder `to`, with the data files an earlier version kept in
// `from` moved there first. Never fewer than one whole copy: the files are
// copied into a new folder beside `to`, synced, the folder renamed to `to`,
// and only then are the old files removed. Where the move fails, `from` is
// used and the warning says why; where `to` exists, it wins and `from` is
// left alone. Files larger than any the program writes are not moved.
FolderChoice settleDataFolder(const QString &from, const QString &to);

// Removes what a save cut short (killed between writing and renaming) left in
// the folder: the user's own regular files named as the data files'
// temporary files are, nothing else.
void removeLeftoverSaves(const DataPaths &paths);

} // namespace himekuri
