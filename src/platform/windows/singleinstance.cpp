#include "platform/singleinstance.h"

#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

namespace himekuri {

namespace {

// The user's security identifier as text (S-1-5-21-...), so that two users
// of one session (run as) each have a calendar of their own.
QString userSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    QString sid;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    QByteArray buffer(int(size), '\0');
    if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        wchar_t *text = nullptr;
        if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid,
                                   &text)) {
            sid = QString::fromWCharArray(text);
            LocalFree(text);
        }
    }
    CloseHandle(token);
    return sid;
}

} // namespace

// A named mutex in the session's own namespace: the kernel drops it with the
// last handle, when the process ends however it ends.
SingleInstance::SingleInstance(const QStringList &)
{
    m_path = QStringLiteral("Local\\himekuri-") + userSid();
    HANDLE mutex = CreateMutexW(nullptr, FALSE, reinterpret_cast<LPCWSTR>(m_path.utf16()));
    if (!mutex) {
        // ERROR_ACCESS_DENIED: a mutex of that name that is not ours.
        m_problem = qt_error_string(int(GetLastError()));
        return;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        m_state = State::AnotherRunning;
        return;
    }
    m_handle = reinterpret_cast<qintptr>(mutex);
    m_state = State::Alone;
    // For installers, which may run as another user of the session: a name
    // without the SID tells them a calendar runs here. Held to the end.
    CreateMutexW(nullptr, FALSE, L"Local\\himekuri-running");
}

SingleInstance::~SingleInstance()
{
    if (m_state == State::Alone)
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

QStringList SingleInstance::sessionFolders(const QString &)
{
    return {};
}

} // namespace himekuri
