// Start-up benchmark driver.
//
// For each program it measures the wall time from exec to the first MapNotify
// of its window with a given WM_WINDOW_ROLE (and to its first mapped window of
// any role), then the resident memory a while after that window appeared.
// It must run on an X server without a window manager: top-level windows then
// stay children of the root window, so selecting SubstructureNotify on the
// root shows us every map as the server performs it, without polling.
//
// usage: bench_startup [--runs N] [--warmup N] [--settle-ms MS] [--timeout-ms MS]
//                      HIMEKURI MINIMAL
// DISPLAY must name that X server.

#include "benchsupport.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace bench;

using Clock = std::chrono::steady_clock;

// What the calendar finds at de.txt: a line, or what a broken machine leaves there.
enum class Board { Absent, Line, Fifo, Zero, LongLine, BigFile };

struct Subject
{
    std::string name;
    std::string path;
    std::string role;
    Board board = Board::Absent;
};

// A user's file has long been on disk: written just now, its writeback
// would run during the start being timed.
bool settled(bool made)
{
    sync();
    return made;
}

bool prepare_board(const std::string &path, Board board)
{
    switch (board) {
    case Board::Absent:
        return true;
    case Board::Line:
        return write_file(path, "a message\r\n");
    case Board::Fifo:
        return mkfifo(path.c_str(), 0600) == 0;
    case Board::Zero:
        return symlink("/dev/zero", path.c_str()) == 0;
    case Board::LongLine:
        return settled(write_file(path, std::string(50'000'000, 'x') + "\r\n"));
    case Board::BigFile: // 1 GB, sparse, with a short first line
        return write_file(path, "a message\r\n") && truncate(path.c_str(), 1'000'000'000) == 0;
    }
    return false;
}

struct Options
{
    int runs = 5;
    int warmup = 1;
    int settle_ms = 2000;
    int timeout_ms = 20000;
};

struct Sample
{
    bool ok = false;
    std::string error;
    double first_map_ms = -1;
    std::string first_role;
    double role_map_ms = -1;
    long rss_kib = -1;
    bool webengine = false;
};

double ms_between(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Windows can vanish between an event and our query of them; such errors are
// expected and must not end the driver (Xlib's default handler would).
int ignore_x_error(Display *, XErrorEvent *)
{
    return 0;
}

std::optional<std::string> string_property(Display *dpy, Window w, Atom property)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(dpy, w, property, 0, 1024, False, AnyPropertyType, &type, &format,
                           &count, &after, &data)
        != Success) {
        return std::nullopt;
    }
    std::optional<std::string> value;
    if (type != None && format == 8 && data)
        value = std::string(reinterpret_cast<const char *>(data), count);
    if (data)
        XFree(data);
    return value;
}

std::optional<long> cardinal_property(Display *dpy, Window w, Atom property)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(dpy, w, property, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                           &after, &data)
        != Success) {
        return std::nullopt;
    }
    std::optional<long> value;
    if (type == XA_CARDINAL && format == 32 && count == 1 && data)
        value = *reinterpret_cast<const long *>(data);
    if (data)
        XFree(data);
    return value;
}

long vm_rss_kib(pid_t pid)
{
    std::istringstream status(read_file("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

bool maps_webengine(pid_t pid)
{
    return read_file("/proc/" + std::to_string(pid) + "/maps").find("libQt6WebEngine")
        != std::string::npos;
}

// Returns true once the child has exited (and reaps it).
bool reaped(pid_t pid, int *status)
{
    return waitpid(pid, status, WNOHANG) == pid;
}

void end_child(pid_t pid)
{
    int status = 0;
    if (reaped(pid, &status))
        return;
    kill(pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        if (reaped(pid, &status))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
}

class Bench
{
public:
    Bench(Display *dpy, Options options)
        : dpy_(dpy)
        , options_(options)
    {
        root_ = DefaultRootWindow(dpy_);
        role_atom_ = XInternAtom(dpy_, "WM_WINDOW_ROLE", False);
        pid_atom_ = XInternAtom(dpy_, "_NET_WM_PID", False);
        XSelectInput(dpy_, root_, SubstructureNotifyMask);
        XSync(dpy_, False);
    }

    Sample run(const Subject &subject)
    {
        Sample sample;
        char pattern[] = "/tmp/himekuri-bench.XXXXXX";
        if (!mkdtemp(pattern)) {
            sample.error = std::string("mkdtemp: ") + std::strerror(errno);
            return sample;
        }
        const std::string dir = pattern;
        const std::string home = dir + "/home";
        const std::string runtime = dir + "/runtime";
        const std::string log = dir + "/program.log";
        // Same isolation as the e2e test: a fresh HOME whose or.txt already
        // answers the first-run question, so no dialog and no network.
        const std::string data = home + "/.local/share/himekuri";
        bool made = mkdir(home.c_str(), 0755) == 0 && mkdir((home + "/.local").c_str(), 0755) == 0
            && mkdir((home + "/.local/share").c_str(), 0755) == 0 && mkdir(data.c_str(), 0755) == 0
            && mkdir(runtime.c_str(), 0700) == 0 && write_file(data + "/or.txt", "N\r\n")
            && prepare_board(data + "/de.txt", subject.board);
        if (!made) {
            sample.error = "could not prepare " + dir;
            remove_tree(dir);
            return sample;
        }
        measure(subject, home, runtime, log, sample);
        if (!sample.ok) {
            std::string text = read_file(log);
            if (text.size() > 1500)
                text = "..." + text.substr(text.size() - 1500);
            if (!text.empty())
                sample.error += "\n  program output:\n" + text;
        }
        remove_tree(dir);
        return sample;
    }

private:
    void measure(const Subject &subject, const std::string &home, const std::string &runtime,
                 const std::string &log, Sample &sample)
    {
        const char *display = std::getenv("DISPLAY");
        std::vector<std::string> env_strings = {
            "PATH=/usr/bin:/bin",
            "HOME=" + home,
            "XDG_RUNTIME_DIR=" + runtime,
            "TZ=Asia/Tokyo",
            "LANG=C.UTF-8",
            "QT_QPA_PLATFORM=xcb",
            std::string("DISPLAY=") + (display ? display : ""),
        };
        std::vector<char *> envp;
        for (auto &s : env_strings)
            envp.push_back(s.data());
        envp.push_back(nullptr);
        std::string program = subject.path;
        char *argv[] = {program.data(), nullptr};

        // Nothing left over from the previous run may be taken for this one.
        XSync(dpy_, False);
        while (XPending(dpy_)) {
            XEvent ev;
            XNextEvent(dpy_, &ev);
        }

        const auto start = Clock::now();
        const pid_t pid = fork();
        if (pid < 0) {
            sample.error = std::string("fork: ") + std::strerror(errno);
            return;
        }
        if (pid == 0) {
            const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                dup2(fd, 1);
                dup2(fd, 2);
            }
            const int null_fd = open("/dev/null", O_RDONLY);
            if (null_fd >= 0)
                dup2(null_fd, 0);
            close(ConnectionNumber(dpy_));
            execve(argv[0], argv, envp.data());
            _exit(127);
        }

        Clock::time_point role_map {};
        // Mapped windows that had no role yet, with their map time, in case
        // the role is set after mapping.
        std::vector<std::pair<Window, Clock::time_point>> unnamed;
        const auto deadline = start + std::chrono::milliseconds(options_.timeout_ms);
        int status = 0;
        bool found = false;
        while (!found) {
            if (reaped(pid, &status)) {
                sample.error = "the program " + describe_exit(status) + " before mapping its "
                    + subject.role + " window";
                return;
            }
            const auto now = Clock::now();
            if (now >= deadline) {
                sample.error = "no " + subject.role + " window mapped within "
                    + std::to_string(options_.timeout_ms) + " ms";
                if (sample.first_map_ms >= 0)
                    sample.error += " (a window with role " + sample.first_role + " was mapped)";
                end_child(pid);
                return;
            }
            if (!XPending(dpy_)) {
                // Events wake us at once; the bound only lets us notice a crash.
                pollfd pfd {ConnectionNumber(dpy_), POLLIN, 0};
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
                poll(&pfd, 1, static_cast<int>(std::min<long>(50, left.count() + 1)));
            }
            while (!found && XPending(dpy_)) {
                XEvent ev;
                XNextEvent(dpy_, &ev);
                const auto at = Clock::now();
                if (ev.type == MapNotify && ev.xmap.event == root_) {
                    const Window w = ev.xmap.window;
                    const auto owner = cardinal_property(dpy_, w, pid_atom_);
                    if (owner && *owner != pid)
                        continue;
                    const auto role = string_property(dpy_, w, role_atom_);
                    if (sample.first_map_ms < 0) {
                        sample.first_map_ms = ms_between(start, at);
                        sample.first_role = role ? *role : "(no role)";
                    }
                    if (role && *role == subject.role) {
                        role_map = at;
                        found = true;
                    } else if (!role) {
                        XSelectInput(dpy_, w, PropertyChangeMask);
                        unnamed.emplace_back(w, at);
                    }
                } else if (ev.type == PropertyNotify && ev.xproperty.atom == role_atom_) {
                    for (const auto &[w, mapped_at] : unnamed) {
                        if (w != ev.xproperty.window)
                            continue;
                        const auto role = string_property(dpy_, w, role_atom_);
                        if (role && *role == subject.role) {
                            role_map = mapped_at;
                            found = true;
                        }
                    }
                }
            }
        }
        sample.role_map_ms = ms_between(start, role_map);

        // Resident memory once start-up work triggered by showing the window
        // (first paint, deferred loading) has had time to happen.
        std::this_thread::sleep_until(role_map + std::chrono::milliseconds(options_.settle_ms));
        if (reaped(pid, &status)) {
            sample.error = "the program " + describe_exit(status) + " while its window was shown";
            return;
        }
        sample.rss_kib = vm_rss_kib(pid);
        sample.webengine = maps_webengine(pid);
        end_child(pid);
        if (sample.rss_kib < 0) {
            sample.error = "could not read VmRSS";
            return;
        }
        sample.ok = true;
    }

    Display *dpy_;
    Options options_;
    Window root_;
    Atom role_atom_;
    Atom pid_atom_;
};

int usage(const char *self)
{
    std::fprintf(stderr,
                 "usage: %s [--runs N] [--warmup N] [--settle-ms MS] [--timeout-ms MS] "
                 "[--hostile] HIMEKURI MINIMAL\n"
                 "  --hostile: the calendar also with a FIFO, a link to /dev/zero, a 50 MB line "
                 "and a 1 GB file at de.txt\n",
                 self);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    Options options;
    bool hostile = false;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--hostile") {
            hostile = true;
            continue;
        }
        int *target = arg == "--runs" ? &options.runs
            : arg == "--warmup"       ? &options.warmup
            : arg == "--settle-ms"    ? &options.settle_ms
            : arg == "--timeout-ms"   ? &options.timeout_ms
                                      : nullptr;
        if (target) {
            const int min = target == &options.runs || target == &options.timeout_ms ? 1 : 0;
            if (i + 1 >= argc || !parse_int(argv[++i], min, target))
                return usage(argv[0]);
        } else if (arg.rfind("--", 0) == 0) {
            return usage(argv[0]);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2)
        return usage(argv[0]);

    std::vector<Subject> subjects = {
        {"himekuri", positional[0], "Form1", Board::Line},
        {"minimal", positional[1], "Minimal"},
    };
    if (hostile) {
        subjects.insert(subjects.end(),
                        {
                            {"fifo", positional[0], "Form1", Board::Fifo},
                            {"zero", positional[0], "Form1", Board::Zero},
                            {"50MB-line", positional[0], "Form1", Board::LongLine},
                            {"1GB-file", positional[0], "Form1", Board::BigFile},
                        });
    }
    for (const auto &s : subjects) {
        if (access(s.path.c_str(), X_OK) != 0) {
            std::fprintf(stderr, "bench: %s is not executable\n", s.path.c_str());
            return 1;
        }
    }

    Display *dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "bench: cannot open display '%s'\n",
                     std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
        return 1;
    }
    XSetErrorHandler(ignore_x_error);
    Bench bench(dpy, options);

    std::printf("display %s, %d run(s) per program after %d warm-up run(s), interleaved; "
                "RSS read %d ms after the window is mapped\n",
                DisplayString(dpy), options.runs, options.warmup, options.settle_ms);
    std::printf("%-8s %-10s %13s %-10s %12s %10s %9s\n", "run", "program", "first map ms",
                "first role", "role map ms", "RSS KiB", "WebEngine");

    std::vector<std::vector<Sample>> results(subjects.size());
    bool failed = false;
    for (int i = 0; i < options.warmup + options.runs; ++i) {
        const bool warm_up = i < options.warmup;
        for (size_t s = 0; s < subjects.size(); ++s) {
            const Sample sample = bench.run(subjects[s]);
            const std::string label = warm_up ? "warm-up" : std::to_string(i - options.warmup + 1);
            if (!sample.ok) {
                std::printf("%-8s %-10s FAILED: %s\n", label.c_str(), subjects[s].name.c_str(),
                            sample.error.c_str());
                failed = true;
                continue;
            }
            std::printf("%-8s %-10s %13.1f %-10s %12.1f %10ld %9s\n", label.c_str(),
                        subjects[s].name.c_str(), sample.first_map_ms, sample.first_role.c_str(),
                        sample.role_map_ms, sample.rss_kib, sample.webengine ? "MAPPED" : "no");
            std::fflush(stdout);
            if (!warm_up)
                results[s].push_back(sample);
        }
    }
    XCloseDisplay(dpy);

    struct Summary
    {
        double first = 0, role = 0, rss = 0;
        size_t webengine = 0, n = 0;
    };
    std::vector<Summary> summary(subjects.size());
    std::printf("\n");
    for (size_t s = 0; s < subjects.size(); ++s) {
        std::vector<double> first, role, rss;
        for (const auto &r : results[s]) {
            first.push_back(r.first_map_ms);
            role.push_back(r.role_map_ms);
            rss.push_back(double(r.rss_kib));
            summary[s].webengine += r.webengine;
        }
        summary[s] = {median(first), median(role), median(rss), summary[s].webengine,
                      results[s].size()};
        if (summary[s].n == 0) {
            std::printf("median %-10s: no successful run\n", subjects[s].name.c_str());
            continue;
        }
        std::printf("median %-10s (%zu runs): first window %8.1f ms, %-7s window %8.1f ms, "
                    "RSS %7.0f KiB (%.1f MiB)\n",
                    subjects[s].name.c_str(), summary[s].n, summary[s].first,
                    subjects[s].role.c_str(), summary[s].role, summary[s].rss,
                    summary[s].rss / 1024);
    }
    if (summary[0].n && summary[1].n) {
        std::printf("ratio himekuri/minimal start-up, to the Form1 window:   %.2f\n",
                    summary[0].role / summary[1].role);
        std::printf("ratio himekuri/minimal start-up, to the first window:   %.2f\n",
                    summary[0].first / summary[1].first);
        std::printf("ratio himekuri/minimal RSS:                              %.2f\n",
                    summary[0].rss / summary[1].rss);
    }
    for (size_t s = 2; s < subjects.size(); ++s) {
        if (summary[0].n && summary[s].n) {
            std::printf("ratio %s/himekuri: first window %.2f, RSS %.2f\n",
                        subjects[s].name.c_str(), summary[s].first / summary[0].first,
                        summary[s].rss / summary[0].rss);
        }
    }
    std::printf("himekuri maps libQt6WebEngine: %s (%zu of %zu runs)\n",
                summary[0].webengine ? "YES - it must not" : "no", summary[0].webengine,
                summary[0].n);
    if (summary[0].webengine)
        failed = true;
    return failed ? 1 : 0;
}
