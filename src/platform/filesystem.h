#pragma once

// What the data files need of the operating system beyond Qt: opening only
// regular files and never waiting on one, replacing a file whole with every
// step checked, writing only the user's own regular files, and telling the
// user what the system said. One implementation per platform, chosen at
// build time.

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

class QFile;

namespace himekuri::os {

// Opens the file for reading only if it is a regular file (links followed):
// a FIFO, a device or a folder is refused without being waited on. Returns
// why not, or an empty string; *size gets the file's size.
QString openRegularFile(QFile &file, qint64 *size = nullptr);

struct FileBytes
{
    std::optional<QByteArray> bytes;
    QString reason; // why there are none
};
// The whole of a regular file, refused when it holds more than maxBytes.
FileBytes readRegularFile(const QString &path, qint64 maxBytes);

struct SaveTarget
{
    QString path; // empty when refused
    QString refusal;
};
// Where a save of the path may write: the path itself when nothing is there
// or the user's own regular file is, or the final target of the user's own
// link when that is the user's own regular file. Anything else (a device, a
// FIFO, a folder, another user's file or link) is refused.
SaveTarget saveTarget(const QString &path);

// The steps of putting a file in place whole: the bytes go to a temporary
// file beside it, which takes the file's place at commit. Tests make a step
// fail.
class FileReplacer
{
public:
    enum class Mode {
        Replace, // the file's old content goes
        CreateOnly, // a file that exists by commit is left alone
    };
    virtual ~FileReplacer() = default;
    virtual bool open(const QString &path, Mode mode) = 0;
    // All of the bytes, or fewer and failure().
    virtual qint64 write(const QByteArray &bytes) = 0;
    // Out of every buffer and onto the disk.
    virtual bool flush() = 0;
    virtual bool commit() = 0;
    // The temporary file goes; the file stays as it was.
    virtual void cancel() = 0;
    // Why the last step failed, in the system's words.
    virtual QString failure() const = 0;
    // After a commit: what may still undo it (a folder that was not synced).
    virtual QString warning() const = 0;
};
std::unique_ptr<FileReplacer> makeFileReplacer();

// A rename in the folder stays done after a power cut; false where the
// folder could not be synced.
bool syncFolder(const QString &folder);

// A save's temporary file beside NAME is ".NAME.himekuri-" and six letters or
// digits: hidden, and a name no user picks, so that what a killed save left
// behind can be told from the user's own files (de.txt.backup).
QString temporaryName(const QString &fileName);
bool isTemporaryName(const QString &candidate, const QString &fileName);

// Removes the file if it is a regular file of the user's own; nothing else.
void removeOwnFile(const QString &path);

// The user's home folder, from the environment or else the user database;
// empty when there is none.
QString homeFolder();

// The XDG base folders: ${XDG_DATA_HOME:-~/.local/share} and
// ${XDG_CONFIG_HOME:-~/.config} (a relative value counts as unset); empty
// without a home folder, and on Windows, which has none of them.
QString dataFolder();
QString configFolder();

// The folder, or the first folder above it, that other users may write to
// (so that they could put a file or link in the user's place); empty when
// none can.
QString folderOthersCanWrite(const QString &folder);

} // namespace himekuri::os
