#include "platform/filesystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <windows.h>

namespace himekuri::os {

namespace {

std::wstring native(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

// The system's own words, with the one failure users can mend themselves
// said plainly first.
QString describe(DWORD error)
{
    const QString system = qt_error_string(int(error));
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
        return QStringLiteral("ディスクの空き容量が足りません（%1）").arg(system);
    return system;
}

QString notRegular()
{
    return QStringLiteral("通常のファイルではありません");
}

// A file of its own, not a folder, a device or a link (a reparse point).
bool isRegular(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES
        && !(attributes
             & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT));
}

class WindowsReplacer final : public FileReplacer
{
public:
    ~WindowsReplacer() override { cancel(); }

    bool open(const QString &path, Mode mode) override
    {
        m_target = path;
        m_mode = mode;
        const QFileInfo target(path);
        for (int attempt = 0; attempt < 100 && m_file == INVALID_HANDLE_VALUE; ++attempt) {
            m_temporary = target.absolutePath() + u'/' + temporaryName(target.fileName());
            m_file = CreateFileW(native(m_temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
            if (m_file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
                m_temporary.clear();
                return fail(GetLastError());
            }
        }
        if (m_file == INVALID_HANDLE_VALUE) {
            m_temporary.clear();
            return fail(ERROR_FILE_EXISTS);
        }
        return true;
    }

    qint64 write(const QByteArray &bytes) override
    {
        qint64 done = 0;
        while (done < bytes.size()) {
            DWORD written = 0;
            const auto chunk = DWORD(std::min<qint64>(bytes.size() - done, 1 << 30));
            if (!WriteFile(m_file, bytes.constData() + done, chunk, &written, nullptr)
                || written == 0) {
                fail(written == 0 && GetLastError() == ERROR_SUCCESS ? ERROR_WRITE_FAULT
                                                                     : GetLastError());
                break;
            }
            done += written;
        }
        return done;
    }

    bool flush() override { return FlushFileBuffers(m_file) || fail(GetLastError()); }

    bool commit() override
    {
        CloseHandle(std::exchange(m_file, INVALID_HANDLE_VALUE));
        const DWORD flags =
            MOVEFILE_WRITE_THROUGH | (m_mode == Mode::Replace ? MOVEFILE_REPLACE_EXISTING : 0);
        // An indexer or a virus scanner may hold the old file for a moment.
        for (int attempt = 0;; ++attempt) {
            if (MoveFileExW(native(m_temporary).c_str(), native(m_target).c_str(), flags))
                break;
            const DWORD error = GetLastError();
            if (attempt == 10
                || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION
                    && error != ERROR_LOCK_VIOLATION))
                return fail(error);
            QThread::msleep(50);
        }
        m_temporary.clear();
        return true;
    }

    void cancel() override
    {
        if (m_file != INVALID_HANDLE_VALUE)
            CloseHandle(std::exchange(m_file, INVALID_HANDLE_VALUE));
        if (!m_temporary.isEmpty())
            DeleteFileW(native(std::exchange(m_temporary, {})).c_str());
    }

    QString failure() const override { return m_failure; }
    // A rename on NTFS is journalled with MOVEFILE_WRITE_THROUGH.
    QString warning() const override { return {}; }

private:
    bool fail(DWORD error)
    {
        if (m_failure.isEmpty())
            m_failure = describe(error);
        return false;
    }

    QString m_target;
    QString m_temporary;
    Mode m_mode = Mode::Replace;
    HANDLE m_file = INVALID_HANDLE_VALUE;
    QString m_failure;
};

} // namespace

// A rename on NTFS is journalled; there is nothing to flush for it.
bool syncFolder(const QString &)
{
    return true;
}

// Windows keeps no FIFOs among ordinary paths; folders, devices and links are refused.
QString openRegularFile(QFile &file, qint64 *size)
{
    const DWORD attributes = GetFileAttributesW(native(file.fileName()).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return describe(GetLastError());
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
        return notRegular();
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    if (size)
        *size = file.size();
    return {};
}

// Links on Windows take a privilege most users lack; a save never writes
// through one.
SaveTarget saveTarget(const QString &path)
{
    const DWORD attributes = GetFileAttributesW(native(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return {path, {}};
        return {{}, describe(error)};
    }
    if (!isRegular(attributes))
        return {{}, notRegular() + QStringLiteral("（%1）").arg(QDir::toNativeSeparators(path))};
    return {path, {}};
}

std::unique_ptr<FileReplacer> makeFileReplacer()
{
    return std::make_unique<WindowsReplacer>();
}

void removeOwnFile(const QString &path)
{
    if (isRegular(GetFileAttributesW(native(path).c_str())))
        DeleteFileW(native(path).c_str());
}

QString homeFolder()
{
    return QDir::homePath();
}

QString dataFolder()
{
    return {};
}

QString configFolder()
{
    return {};
}

// Windows gives rights by access lists, which the installer sets for the
// data folder on purpose: every user of the machine may save there.
QString folderOthersCanWrite(const QString &)
{
    return {};
}

} // namespace himekuri::os
