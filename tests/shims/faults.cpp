// Loaded with LD_PRELOAD into a program under test: the system calls of a
// save fail as a full or broken disk makes them fail, or are cut short as the
// kernel may cut them. Chosen at each call from HIMEKURI_FAULTS, so that a
// test can change it between cases:
//   write=ENOSPC fsync=EIO close=EIO rename=EXDEV open=EMFILE dirsync=EIO
//   rename=KILL   the process is killed (SIGKILL) instead
//   short         every write() on a regular file takes at most 7 bytes, and
//                 every third one is interrupted (EINTR) before writing
// Only regular files and folders are touched, and rename() and open() only
// for a save's temporary file (".himekuri-").
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
// Tests look for it to learn that the shim is loaded.
int himekuri_faults_loaded = 1;
}

namespace {

// The value asked for the call ("EIO" in "fsync=EIO"), or nothing.
std::string asked(const char *call)
{
    char needle[32];
    std::snprintf(needle, sizeof needle, " %s=", call);
    std::string spec(1, ' ');
    if (const char *faults = std::getenv("HIMEKURI_FAULTS"))
        spec.append(faults).push_back(' ');
    const std::string::size_type at = spec.find(needle);
    if (at == std::string::npos)
        return {};
    const std::string::size_type from = at + std::strlen(needle);
    return spec.substr(from, spec.find(' ', from) - from);
}

// True when the call is to fail, with errno set.
bool fail(const char *call)
{
    const std::string value = asked(call);
    if (value == "KILL")
        raise(SIGKILL);
    for (const auto &[name, code] : {std::pair {"EIO", EIO},
                                     {"ENOSPC", ENOSPC},
                                     {"EXDEV", EXDEV},
                                     {"EMFILE", EMFILE},
                                     {"EDQUOT", EDQUOT}}) {
        if (value == name) {
            errno = code;
            return true;
        }
    }
    return false;
}

mode_t kind(int fd)
{
    struct stat info
    {
    };
    return fstat(fd, &info) == 0 ? info.st_mode & S_IFMT : 0;
}

template<class F> F *real(F *, const char *name)
{
    return reinterpret_cast<F *>(dlsym(RTLD_NEXT, name));
}
#define REAL(name) real(&::name, #name)

} // namespace

extern "C" {

ssize_t write(int fd, const void *buffer, size_t count)
{
    if (kind(fd) == S_IFREG) {
        if (fail("write"))
            return -1;
        static int calls = 0;
        const char *faults = std::getenv("HIMEKURI_FAULTS");
        if (faults && std::strstr(faults, "short")) {
            if (++calls % 3 == 0) {
                errno = EINTR;
                return -1;
            }
            count = std::min<size_t>(count, 7);
        }
    }
    return REAL(write)(fd, buffer, count);
}

int fsync(int fd)
{
    if (fail(kind(fd) == S_IFDIR ? "dirsync" : "fsync"))
        return -1;
    return REAL(fsync)(fd);
}

int close(int fd)
{
    const bool failing = kind(fd) == S_IFREG && fail("close");
    const int error = errno;
    const int closed = REAL(close)(fd);
    errno = failing ? error : errno;
    return failing ? -1 : closed;
}

int rename(const char *from, const char *to)
{
    if (std::strstr(from, ".himekuri-") && fail("rename"))
        return -1;
    return REAL(rename)(from, to);
}

int open(const char *path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & O_CREAT) ? va_arg(args, mode_t) : 0;
    va_end(args);
    if (std::strstr(path, ".himekuri-") && fail("open"))
        return -1;
    return REAL(open)(path, flags, mode);
}

} // extern "C"
