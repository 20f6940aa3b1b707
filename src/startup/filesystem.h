#pragma once

// What the data files need of the operating system beyond Qt: reading only
// regular files and never waiting on one, getting written bytes onto the
// disk, and telling a full disk from other failures. One implementation per
// platform, chosen at build time.

#include <QString>

class QFile;
class QFileDevice;

namespace himekuri::os {

// Opens the file for reading only if it is a regular file (links followed):
// a FIFO, a device or a folder is refused without being waited on. Returns
// why not, or an empty string.
QString openRegularFile(QFile &file);

// What was written reaches the disk itself, not only the system's cache.
bool syncToDisk(QFileDevice &file);
// A file renamed in the folder stays renamed after a power cut.
void syncFolder(const QString &folder);

// The system's code of the last failure, read right after it.
int lastError();
bool isDiskFull(int error);

} // namespace himekuri::os
