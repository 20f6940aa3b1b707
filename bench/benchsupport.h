#pragma once
// What the benchmark drivers share: a fresh home for each program they start,
// starting and ending it, figures from /proc, and a connection to the X server.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>
#include <xcb/xcb.h>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double ms_between(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

inline void sleep_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

inline bool write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return bool(out);
}

inline std::string read_file(const std::string &path, size_t tail = std::string::npos)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    return text.size() > tail ? "..." + text.substr(text.size() - tail) : text;
}

inline void remove_tree(const std::string &path)
{
    nftw(
        path.c_str(),
        [](const char *p, const struct stat *, int, struct FTW *) { return remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

inline std::string describe_exit(int status)
{
    if (WIFEXITED(status))
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("was killed by signal ") + strsignal(WTERMSIG(status));
    return "ended";
}

inline bool parse_int(const char *text, int min, int *out)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || errno || v < min || v > 10000000)
        return false;
    *out = static_cast<int>(v);
    return true;
}

struct IntOption
{
    const char *name;
    int *value;
    int min;
};

// Every driver's command line: "--name N" options, options of its own
// (told the argument and the index of the next one, which they may take),
// and the two programs it compares. Nothing on bad usage.
inline std::optional<std::vector<std::string>>
parse_command_line(int argc, char *argv[], std::initializer_list<IntOption> ints,
                   const std::function<bool(const std::string &, int &)> &other = {})
{
    std::vector<std::string> programs;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto option = std::find_if(ints.begin(), ints.end(),
                                         [&arg](const IntOption &o) { return arg == o.name; });
        if (option != ints.end()) {
            if (i + 1 >= argc || !parse_int(argv[++i], option->min, option->value))
                return std::nullopt;
        } else if (arg.rfind("--", 0) == 0) {
            if (!other || !other(arg, i))
                return std::nullopt;
        } else {
            programs.push_back(arg);
        }
    }
    if (programs.size() != 2)
        return std::nullopt;
    return programs;
}

template<class T> double median(std::vector<T> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? double(v[n / 2]) : (double(v[n / 2 - 1]) + double(v[n / 2])) / 2;
}

// ---- /proc ----------------------------------------------------------------

// The fields of /proc/PID/stat from the third (state) on; the command name
// before them may hold spaces and parentheses.
inline std::vector<std::string> stat_fields(pid_t pid)
{
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos)
        return fields;
    std::istringstream in(stat.substr(close + 1));
    for (std::string f; in >> f;)
        fields.push_back(f);
    return fields;
}

// The process and all its descendants, by the parent of every process.
inline std::vector<pid_t> process_tree(pid_t root)
{
    std::multimap<pid_t, pid_t> children;
    if (DIR *proc = opendir("/proc")) {
        while (const dirent *e = readdir(proc)) {
            const pid_t pid = std::atoi(e->d_name);
            const auto f = pid > 0 ? stat_fields(pid) : std::vector<std::string>();
            if (f.size() > 1)
                children.emplace(std::atoi(f[1].c_str()), pid);
        }
        closedir(proc);
    }
    std::vector<pid_t> tree {root};
    for (size_t i = 0; i < tree.size(); ++i) {
        const auto [from, to] = children.equal_range(tree[i]);
        for (auto it = from; it != to; ++it)
            tree.push_back(it->second);
    }
    return tree;
}

// User + system CPU time in ms, all threads; with the children it has waited
// for, so that a helper that came and went is counted in its parent.
inline std::optional<double> cpu_ms(pid_t pid, bool with_children = false)
{
    const auto f = stat_fields(pid);
    if (f.size() < 15)
        return std::nullopt;
    double ticks = std::atof(f[11].c_str()) + std::atof(f[12].c_str());
    if (with_children)
        ticks += std::atof(f[13].c_str()) + std::atof(f[14].c_str());
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

// A "Name: N kB" line of a /proc file; -1 when it cannot be read.
inline long proc_kib(pid_t pid, const char *file, const std::string &name)
{
    std::istringstream in(read_file("/proc/" + std::to_string(pid) + "/" + file));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(name + ":", 0) == 0)
            return std::strtol(line.c_str() + name.size() + 1, nullptr, 10);
    }
    return -1;
}

struct TreeFigures
{
    int processes = 0;
    int unreadable = 0; // processes whose memory could not be read
    long pss_kib = 0;
    double cpu_ms = 0;
};

// The whole tree at once: PSS (each shared page counted once over all of
// them), CPU time, how many processes.
inline TreeFigures tree_figures(pid_t root)
{
    TreeFigures t;
    for (pid_t pid : process_tree(root)) {
        const auto cpu = cpu_ms(pid, true);
        if (!cpu)
            continue; // gone meanwhile
        ++t.processes;
        t.cpu_ms += *cpu;
        const long pss = proc_kib(pid, "smaps_rollup", "Pss");
        if (pss < 0)
            ++t.unreadable;
        else
            t.pss_kib += pss;
    }
    return t;
}

// The 1-minute load average: other work on the machine while we measure.
inline std::string load_average()
{
    std::istringstream in(read_file("/proc/loadavg"));
    std::string one;
    in >> one;
    return one.empty() ? "?" : one;
}

// ---- the programs measured ------------------------------------------------

// A program started as the user would find it on a fresh account: a HOME of
// its own whose or.txt already answers the first-run question, a 0700 runtime
// folder (the single-instance lock is there, so that programs started side by
// side do not see each other) and a TMPDIR, all in one folder under $TMPDIR
// that goes with it. Not copyable: it owns the process and the folder.
class Program
{
public:
    Program(std::string name, std::string path)
        : name(std::move(name))
        , path(std::move(path))
    { }
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;
    ~Program()
    {
        end();
        if (out >= 0)
            close(out);
        if (!dir.empty())
            remove_tree(dir);
    }

    std::string name;
    std::string path;
    std::vector<std::string> args;
    std::string dir;
    pid_t pid = -1;
    int status = 0;
    bool ended = false;
    bool killed = false; // did not end on SIGTERM
    int out = -1; // its stdout, when start() was asked for it

    std::string data() const { return dir + "/home/.local/share/himekuri"; }
    std::string log() const { return dir + "/program.log"; }

    // ANSWER goes to or.txt ("Y" shows the web page in the pane, "N" a picture).
    bool prepare(const std::string &answer, std::string &error)
    {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/himekuri-bench.XXXXXX";
        if (!mkdtemp(pattern.data())) {
            error = std::string("mkdtemp: ") + std::strerror(errno);
            return false;
        }
        dir = pattern;
        bool made = true;
        for (const char *sub : {"/home", "/home/.local", "/home/.local/share",
                                "/home/.local/share/himekuri", "/runtime", "/tmp"})
            made = made && mkdir((dir + sub).c_str(), 0700) == 0;
        made = made && write_file(data() + "/or.txt", answer);
        if (!made)
            error = "could not prepare " + dir;
        return made;
    }

    // Only PATH, HOME, XDG_RUNTIME_DIR, TMPDIR, TZ, LANG, QT_QPA_PLATFORM and
    // DISPLAY in the environment, and EXTRA; output to log(), or stdout to out.
    bool start(const std::vector<std::string> &extra, bool pipe_stdout, std::string &error)
    {
        const char *display = std::getenv("DISPLAY");
        std::vector<std::string> env = {
            "PATH=/usr/bin:/bin",
            "HOME=" + dir + "/home",
            "XDG_RUNTIME_DIR=" + dir + "/runtime",
            "TMPDIR=" + dir + "/tmp",
            "TZ=Asia/Tokyo",
            "LANG=C.UTF-8",
            "QT_QPA_PLATFORM=xcb",
            std::string("DISPLAY=") + (display ? display : ""),
        };
        env.insert(env.end(), extra.begin(), extra.end());
        std::vector<char *> envp;
        for (auto &e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<char *> argv {path.data()};
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        int pipe_fds[2] = {-1, -1};
        if (pipe_stdout && pipe2(pipe_fds, O_CLOEXEC) != 0) {
            error = std::string("pipe: ") + std::strerror(errno);
            return false;
        }
        const pid_t parent = getpid();
        pid = fork();
        if (pid == 0) {
            // Should the driver die without ending us, we go too.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent)
                _exit(127);
            // A shell without job control starts background jobs with SIGINT
            // ignored; the programs get their usual handling back.
            for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
                signal(sig, SIG_DFL);
            const int log_fd = open(log().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(pipe_stdout ? pipe_fds[1] : log_fd, 1);
            dup2(log_fd, 2);
            dup2(open("/dev/null", O_RDONLY), 0);
            close_range(3, ~0U, 0);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        if (pipe_stdout) {
            close(pipe_fds[1]);
            out = pipe_fds[0];
            fcntl(out, F_SETFL, O_NONBLOCK);
        }
        if (pid < 0) {
            error = std::string("fork: ") + std::strerror(errno);
            return false;
        }
        return true;
    }

    // True once it has ended (and it is reaped).
    bool reap()
    {
        if (pid > 0 && !ended && waitpid(pid, &status, WNOHANG) == pid)
            ended = true;
        return ended;
    }

    // SIGTERM, SIGKILL after 5 s, to it and to what it started.
    void end()
    {
        if (pid <= 0 || std::exchange(finished_, true))
            return;
        const std::vector<pid_t> tree = process_tree(pid);
        const auto gone = [this](pid_t p) {
            const auto f = p == pid && reap() ? std::vector<std::string>() : stat_fields(p);
            return f.empty() || f[0] == "Z";
        };
        for (int sig : {SIGTERM, SIGKILL}) {
            for (pid_t p : tree) {
                if (!gone(p))
                    kill(p, sig);
            }
            const auto deadline = Clock::now() + std::chrono::seconds(5);
            while (!std::all_of(tree.begin(), tree.end(), gone) && Clock::now() < deadline)
                sleep_ms(10);
            if (std::all_of(tree.begin(), tree.end(), gone))
                break;
            killed = true;
        }
        if (!ended)
            waitpid(pid, &status, 0);
        ended = true;
    }

    // The lines it has written to its stdout since the last call.
    std::vector<std::string> lines()
    {
        char buffer[4096];
        ssize_t n;
        while (out >= 0 && (n = read(out, buffer, sizeof buffer)) > 0)
            pending_.append(buffer, size_t(n));
        std::vector<std::string> lines;
        for (size_t end; (end = pending_.find('\n')) != std::string::npos;) {
            lines.push_back(pending_.substr(0, end));
            pending_.erase(0, end + 1);
        }
        return lines;
    }

private:
    std::string pending_;
    bool finished_ = false;
};

inline bool all_executable(const std::vector<std::string> &paths)
{
    for (const auto &p : paths) {
        if (access(p.c_str(), X_OK) != 0) {
            std::fprintf(stderr, "bench: %s is not executable\n", p.c_str());
            return false;
        }
    }
    return true;
}

// ---- X --------------------------------------------------------------------

// A connection to $DISPLAY. Errors (a window that went between an event and
// our question about it) come back as empty answers, never as an end.
class XServer
{
public:
    XServer()
        : c(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(c))
            return;
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        role_atom = atom("WM_WINDOW_ROLE");
        pid_atom = atom("_NET_WM_PID");
    }
    ~XServer() { xcb_disconnect(c); }
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    bool ok() const { return !xcb_connection_has_error(c); }

    xcb_atom_t atom(const char *name)
    {
        auto *r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, strlen(name), name), nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(r);
        return a;
    }

    // A property's bytes, or nothing when the window has none (or is gone).
    std::optional<std::string> property(xcb_window_t w, xcb_atom_t name)
    {
        auto *r = xcb_get_property_reply(
            c, xcb_get_property(c, 0, w, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr);
        std::optional<std::string> value;
        if (r && r->type != XCB_ATOM_NONE) {
            value = std::string(static_cast<const char *>(xcb_get_property_value(r)),
                                size_t(xcb_get_property_value_length(r)));
        }
        free(r);
        return value;
    }

    std::optional<std::string> role(xcb_window_t w) { return property(w, role_atom); }

    // _NET_WM_PID, which Qt sets on every window it makes, child windows too.
    std::optional<pid_t> owner(xcb_window_t w)
    {
        const auto v = property(w, pid_atom);
        if (!v || v->size() != 4)
            return std::nullopt;
        uint32_t pid;
        std::memcpy(&pid, v->data(), 4);
        return pid_t(pid);
    }

    std::vector<xcb_window_t> children(xcb_window_t w)
    {
        auto *r = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
        std::vector<xcb_window_t> list;
        if (r) {
            const xcb_window_t *first = xcb_query_tree_children(r);
            list.assign(first, first + xcb_query_tree_children_length(r));
        }
        free(r);
        return list;
    }

    bool viewable(xcb_window_t w)
    {
        auto *r = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
        const bool v = r && r->map_state == XCB_MAP_STATE_VIEWABLE;
        free(r);
        return v;
    }

    xcb_connection_t *c;
    xcb_window_t root = XCB_NONE;
    xcb_atom_t role_atom = XCB_ATOM_NONE;
    xcb_atom_t pid_atom = XCB_ATOM_NONE;
};

} // namespace bench
