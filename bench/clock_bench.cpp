// Clock benchmark driver.
//
// Runs three programs side by side on one X server for the same period:
// himekuri itself, the floor bench_ticker (one label, a 1000-ms timer), and
// bench_clock_probe (the calendar's windows in-process, telling every tick of
// their clock). After a warm-up that leaves start-up out, it reads each
// program's CPU time (user + system, /proc/PID/stat) at the start and the
// end of the measured period, and counts the ticks in that period whose
// second is not the one after the previous tick's.
//
// usage: bench_clock [--seconds N] [--warmup-seconds N] [--shared NAME=PID]...
//                    HIMEKURI TICKER PROBE
// DISPLAY must name the X server. --shared names a process serving all three
// (the X server, the window manager) whose CPU time is shown for context.
// Exit status: 0 when all three ran through the period and the probe saw
// ticks, 1 otherwise. Figures are never judged.

#include "benchsupport.h"

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
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace bench;

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t stopRequested = 0;

void onStopSignal(int)
{
    stopRequested = 1;
}

struct Options
{
    int seconds = 600;
    int warmup_seconds = 10;
    std::vector<std::pair<std::string, pid_t>> shared;
};

struct CpuTime
{
    bool ok = false;
    double user_ms = 0;
    double system_ms = 0;
};

// utime and stime of the whole process (all threads), in milliseconds.
CpuTime cpu_time(pid_t pid)
{
    CpuTime t;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat))
        return t;
    // The command name may hold spaces and parentheses; the fields that
    // follow it start after its last ')'.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return t;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    // Field 3 (state) is the first after the name; utime and stime are 14 and 15.
    for (int n = 3; n <= 15 && fields >> field; ++n) {
        if (n == 14)
            t.user_ms = std::strtod(field.c_str(), nullptr);
        else if (n == 15) {
            t.system_ms = std::strtod(field.c_str(), nullptr);
            t.ok = true;
        }
    }
    const double tick_ms = 1000.0 / double(sysconf(_SC_CLK_TCK));
    t.user_ms *= tick_ms;
    t.system_ms *= tick_ms;
    return t;
}

std::string read_tail(const std::string &path, size_t limit)
{
    std::string text = read_file(path);
    if (text.size() > limit)
        text = "..." + text.substr(text.size() - limit);
    return text;
}

// The 1-minute load average: other work on the machine while we measure.
std::string load_average()
{
    std::ifstream in("/proc/loadavg");
    std::string one;
    in >> one;
    return one.empty() ? "?" : one;
}

struct Subject
{
    Subject(std::string name, std::string label, std::string path, bool probe = false)
        : name(std::move(name))
        , label(std::move(label))
        , path(std::move(path))
        , probe(probe)
    { }

    std::string name;
    std::string label;
    std::string path;
    bool probe;

    std::string dir;
    std::string log;
    pid_t pid = -1;
    bool ended = false;
    bool killed = false; // did not end on SIGTERM
    int status = 0;
    int out_fd = -1; // the probe's stdout
    CpuTime start, end;
};

// A fresh HOME whose or.txt already answers the first-run question (no
// dialog, no network) and a runtime folder of its own for the
// single-instance lock, so the three programs do not see each other. All of
// it under TMPDIR, which run.sh points into the folder it removes at the end.
bool prepare(Subject &s, std::string &error)
{
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/himekuri-clock.XXXXXX";
    if (!mkdtemp(pattern.data())) {
        error = std::string("mkdtemp: ") + std::strerror(errno);
        return false;
    }
    s.dir = pattern;
    s.log = s.dir + "/program.log";
    const std::string home = s.dir + "/home";
    const std::string data = home + "/.local/share/himekuri";
    const bool made = mkdir(home.c_str(), 0755) == 0 && mkdir((home + "/.local").c_str(), 0755) == 0
        && mkdir((home + "/.local/share").c_str(), 0755) == 0 && mkdir(data.c_str(), 0755) == 0
        && mkdir((s.dir + "/runtime").c_str(), 0700) == 0
        && mkdir((s.dir + "/tmp").c_str(), 0700) == 0 && write_file(data + "/or.txt", "N");
    if (!made)
        error = "could not prepare " + s.dir;
    return made;
}

bool start(Subject &s, std::string &error)
{
    const char *display = std::getenv("DISPLAY");
    std::vector<std::string> env_strings = {
        "PATH=/usr/bin:/bin",
        "HOME=" + s.dir + "/home",
        "XDG_RUNTIME_DIR=" + s.dir + "/runtime",
        // Temporary files (the probe's) go where they are cleaned up with the rest.
        "TMPDIR=" + s.dir + "/tmp",
        "TZ=Asia/Tokyo",
        "LANG=C.UTF-8",
        "QT_QPA_PLATFORM=xcb",
        std::string("DISPLAY=") + (display ? display : ""),
    };
    std::vector<char *> envp;
    for (auto &e : env_strings)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = s.path;
    char *argv[] = {program.data(), nullptr};

    int out[2] = {-1, -1};
    if (s.probe && pipe2(out, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        if (s.probe) {
            close(out[0]);
            close(out[1]);
        }
        return false;
    }
    if (pid == 0) {
        // Should the driver die without ending us, we go too.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        // A shell without job control starts background jobs with SIGINT
        // ignored; the programs get their usual handling back.
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            signal(sig, SIG_DFL);
        const int log = open(s.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            dup2(s.probe ? out[1] : log, 1);
            dup2(log, 2);
        }
        const int null_fd = open("/dev/null", O_RDONLY);
        if (null_fd >= 0)
            dup2(null_fd, 0);
        execve(argv[0], argv, envp.data());
        _exit(127);
    }
    s.pid = pid;
    if (s.probe) {
        close(out[1]);
        s.out_fd = out[0];
        fcntl(s.out_fd, F_SETFL, O_NONBLOCK);
    }
    return true;
}

bool reap(Subject &s)
{
    if (s.pid > 0 && !s.ended && waitpid(s.pid, &s.status, WNOHANG) == s.pid)
        s.ended = true;
    return s.ended;
}

void end(Subject &s)
{
    if (s.pid <= 0 || reap(s))
        return;
    kill(s.pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        if (reap(s))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(s.pid, SIGKILL);
    waitpid(s.pid, &s.status, 0);
    s.ended = true;
    s.killed = true;
}

struct Tick
{
    Clock::time_point at;
    int window = 0;
    int ms = -1;
    int second = -1;
    std::string text;
};

// Splits the probe's output into lines as it arrives, stamping each with the
// time it was read.
class ProbeReader
{
public:
    std::vector<Tick> ticks;
    std::vector<std::string> messages;
    int windows = 0;

    // Reads what is there; false once the probe closed its end.
    bool read(int fd)
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                pending_.append(buffer, size_t(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            const bool open = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            take_lines(Clock::now());
            return open;
        }
    }

private:
    void take_lines(Clock::time_point at)
    {
        size_t end;
        while ((end = pending_.find('\n')) != std::string::npos) {
            const std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            std::istringstream in(line);
            std::string word;
            in >> word;
            if (word == "window") {
                in >> windows;
            } else if (word == "tick") {
                Tick t;
                t.at = at;
                t.window = windows;
                in >> t.ms >> t.second;
                std::getline(in >> std::ws, t.text);
                ticks.push_back(t);
            } else if (!line.empty()) {
                messages.push_back(line);
            }
        }
    }

    std::string pending_;
};

int usage(const char *self)
{
    std::fprintf(stderr,
                 "usage: %s [--seconds N] [--warmup-seconds N] [--shared NAME=PID]... "
                 "HIMEKURI TICKER PROBE\n",
                 self);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    Options options;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" || arg == "--warmup-seconds") {
            int *target = arg == "--seconds" ? &options.seconds : &options.warmup_seconds;
            if (i + 1 >= argc || !parse_int(argv[++i], target == &options.seconds ? 1 : 0, target))
                return usage(argv[0]);
        } else if (arg == "--shared") {
            if (i + 1 >= argc)
                return usage(argv[0]);
            const std::string value = argv[++i];
            const size_t eq = value.find('=');
            int pid = 0;
            if (eq == std::string::npos || eq == 0 || !parse_int(value.c_str() + eq + 1, 1, &pid))
                return usage(argv[0]);
            options.shared.emplace_back(value.substr(0, eq), pid_t(pid));
        } else if (arg.rfind("--", 0) == 0) {
            return usage(argv[0]);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 3)
        return usage(argv[0]);

    std::vector<Subject> subjects = {
        {"himekuri", "calendar", positional[0]},
        {"ticker", "floor", positional[1]},
        {"probe", "in-process", positional[2], true},
    };
    for (const auto &s : subjects) {
        if (access(s.path.c_str(), X_OK) != 0) {
            std::fprintf(stderr, "bench: %s is not executable\n", s.path.c_str());
            return 1;
        }
    }

    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &action, nullptr);

    const char *display = std::getenv("DISPLAY");
    std::printf("display %s; all three programs run side by side: %d s warm-up, then %d s "
                "measured\n",
                display ? display : "(none)", options.warmup_seconds, options.seconds);
    std::fflush(stdout);

    std::string error;
    bool failed = false;
    for (auto &s : subjects) {
        if (!prepare(s, error) || !start(s, error)) {
            failed = true;
            break;
        }
    }

    ProbeReader probe;
    Subject &probe_subject = subjects[2];
    bool probe_open = probe_subject.out_fd >= 0;
    const auto started = Clock::now();
    const auto measure_from = started + std::chrono::seconds(options.warmup_seconds);
    const auto measure_to = measure_from + std::chrono::seconds(options.seconds);
    std::vector<CpuTime> shared_start(options.shared.size()), shared_end(options.shared.size());
    bool measuring = false;
    std::string load_from, load_to;
    // Both ends of the period are read alike. The probe is read first, so
    // that the ticks before this moment are stamped as such.
    const auto take_sample = [&](CpuTime Subject::*at, std::vector<CpuTime> &shared,
                                 std::string &load) {
        if (probe_open)
            probe_open = probe.read(probe_subject.out_fd);
        for (auto &s : subjects)
            s.*at = cpu_time(s.pid);
        for (size_t i = 0; i < options.shared.size(); ++i)
            shared[i] = cpu_time(options.shared[i].second);
        load = load_average();
    };

    // One loop for both phases: it reads the probe's lines as they come and
    // notices a program that ends early.
    while (!failed) {
        if (stopRequested) {
            error = "interrupted";
            failed = true;
            break;
        }
        for (auto &s : subjects) {
            if (reap(s)) {
                error = s.name + " " + describe_exit(s.status) + " before the end of the period";
                failed = true;
            }
        }
        if (failed)
            break;
        const auto now = Clock::now();
        if (!measuring && now >= measure_from) {
            take_sample(&Subject::start, shared_start, load_from);
            measuring = true;
            continue;
        }
        if (measuring && now >= measure_to) {
            take_sample(&Subject::end, shared_end, load_to);
            break;
        }
        const auto next = measuring ? measure_to : measure_from;
        const auto wait_ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now);
        pollfd pfd {probe_open ? probe_subject.out_fd : -1, POLLIN, 0};
        // The bound lets us notice a program that died or a stop request.
        poll(&pfd, 1, int(std::clamp<long>(wait_ms.count() + 1, 1, 200)));
        if (probe_open && (pfd.revents & (POLLIN | POLLHUP)))
            probe_open = probe.read(probe_subject.out_fd);
    }

    for (auto &s : subjects)
        end(s);
    if (probe_subject.out_fd >= 0) {
        probe.read(probe_subject.out_fd);
        close(probe_subject.out_fd);
    }

    for (const auto &s : subjects) {
        if (s.killed)
            std::printf("note: %s did not end within 5 s of SIGTERM; it was killed\n",
                        s.name.c_str());
    }
    if (failed) {
        std::printf("FAILED: %s\n", error.c_str());
        for (const auto &s : subjects) {
            if (s.dir.empty())
                continue;
            const std::string text = read_tail(s.log, 1500);
            if (!text.empty())
                std::printf("  %s output:\n%s\n", s.name.c_str(), text.c_str());
        }
    }
    for (const auto &s : subjects) {
        if (!s.dir.empty())
            remove_tree(s.dir);
    }
    if (failed)
        return 1;

    // CPU time over the measured period.
    const double hours = options.seconds / 3600.0;
    std::printf("\nCPU time over the measured %d s (user + system, /proc/PID/stat, %ld ticks "
                "a second):\n",
                options.seconds, sysconf(_SC_CLK_TCK));
    std::printf("%-26s %10s %10s %10s %12s %8s\n", "program", "user ms", "system ms", "total ms",
                "ms per hour", "% core");
    std::vector<double> totals;
    for (auto &s : subjects) {
        if (!s.start.ok || !s.end.ok) {
            std::printf("%-26s could not read /proc/%d/stat\n", s.name.c_str(), int(s.pid));
            totals.push_back(-1);
            failed = true;
            continue;
        }
        const double user = s.end.user_ms - s.start.user_ms;
        const double system = s.end.system_ms - s.start.system_ms;
        const double total = user + system;
        totals.push_back(total);
        const std::string name = s.name + " (" + s.label + ")";
        std::printf("%-26s %10.0f %10.0f %10.0f %12.0f %8.3f\n", name.c_str(), user, system, total,
                    total / hours, total / (options.seconds * 10.0));
    }
    if (totals[0] >= 0 && totals[1] > 0) {
        std::printf("ratio calendar/floor (himekuri/ticker) CPU: %.2f (bar: within 2x)\n",
                    totals[0] / totals[1]);
    } else if (totals[0] >= 0 && totals[1] == 0) {
        std::printf("ratio calendar/floor (himekuri/ticker) CPU: not defined, the ticker used no "
                    "measurable CPU time; measure for longer\n");
    }
    for (size_t i = 0; i < options.shared.size(); ++i) {
        const auto &[name, pid] = options.shared[i];
        if (!shared_start[i].ok || !shared_end[i].ok) {
            std::printf("shared %-19s could not read /proc/%d/stat\n", name.c_str(), int(pid));
            continue;
        }
        const double total = shared_end[i].user_ms + shared_end[i].system_ms
            - shared_start[i].user_ms - shared_start[i].system_ms;
        std::printf("shared %-19s %10s %10s %10.0f %12.0f %8.3f  (serves all three)\n",
                    name.c_str(), "", "", total, total / hours, total / (options.seconds * 10.0));
    }
    std::printf("machine load (1-minute average, %ld cores): %s at the start, %s at the end\n",
                sysconf(_SC_NPROCESSORS_ONLN), load_from.c_str(), load_to.c_str());

    // The clock as the probe saw it. A tick is compared with the tick before
    // it in the same window; a new window (the page turned at midnight)
    // starts afresh, as the gap over a reload is no tick of the clock.
    int counted = 0, skips = 0, skipped_seconds = 0, repeats = 0, unreadable = 0;
    std::vector<int> phases;
    std::vector<std::string> oddities;
    int windows_seen = 0, last_window_seen = -1;
    const Tick *previous = nullptr;
    for (const Tick &t : probe.ticks) {
        const bool in_period = t.at >= measure_from && t.at <= measure_to;
        if (in_period) {
            ++counted;
            phases.push_back(t.ms);
            if (t.second < 0)
                ++unreadable;
        }
        if (in_period && previous && previous->window == t.window && previous->second >= 0
            && t.second >= 0) {
            const int step = ((t.second - previous->second) % 86400 + 86400) % 86400;
            if (step != 1) {
                // Forward by more than one: seconds never shown. Zero or back:
                // seconds shown again.
                const bool skip = step > 1 && step < 43200;
                if (skip) {
                    ++skips;
                    skipped_seconds += step - 1;
                } else {
                    ++repeats;
                }
                if (oddities.size() < 20) {
                    oddities.push_back(std::string(skip ? "skip" : "repeat") + ": " + previous->text
                                       + " (ms " + std::to_string(previous->ms) + ") then " + t.text
                                       + " (ms " + std::to_string(t.ms) + ")");
                }
            }
        }
        if (in_period && t.window != last_window_seen) {
            ++windows_seen;
            last_window_seen = t.window;
        }
        previous = &t;
    }

    std::printf("\nclock of the calendar window (in-process probe), ticks in the measured "
                "period:\n");
    std::printf("ticks observed:   %d (about %d expected)\n", counted, options.seconds);
    std::printf("skipped seconds:  %d tick(s), %d second(s) never shown\n", skips, skipped_seconds);
    std::printf("repeated seconds: %d tick(s)\n", repeats);
    if (unreadable)
        std::printf("unreadable clock text: %d tick(s)\n", unreadable);
    std::printf("calendar windows: %d in the period, %d since start (a new one at each change "
                "of day)\n",
                windows_seen, probe.windows);
    if (!phases.empty()) {
        std::printf("tick phase, ms into the wall-clock second: min %d, median %.0f, max %d\n",
                    *std::min_element(phases.begin(), phases.end()), median(phases),
                    *std::max_element(phases.begin(), phases.end()));
    }
    for (const auto &o : oddities)
        std::printf("  %s\n", o.c_str());
    for (const auto &m : probe.messages)
        std::printf("probe said: %s\n", m.c_str());
    if (counted == 0) {
        std::printf("FAILED: the probe saw no tick of the calendar's clock\n");
        failed = true;
    }
    return failed ? 1 : 0;
}
