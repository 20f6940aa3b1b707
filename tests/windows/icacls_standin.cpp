// Stands in for icacls.exe in the tests' Wine prefix, which keeps no access
// lists to look at: appends the command line it was given, as UTF-8, to
// C:\icacls-calls.txt and succeeds, so that a test can see what the
// installer asked for.
#include <cstdio>
#include <string>
#include <windows.h>

int main()
{
    const wchar_t *line = GetCommandLineW();
    const int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(size > 0 ? size - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8.data(), size, nullptr, nullptr);
    FILE *log = std::fopen("C:\\icacls-calls.txt", "ab");
    if (!log)
        return 1;
    std::fprintf(log, "%s\n", utf8.c_str());
    std::fclose(log);
    return 0;
}
