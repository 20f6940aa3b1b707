// Pane benchmark driver.
//
// Three programs side by side on one X server with a window manager, on a
// network where www.example.net is this machine and serves the pane's page:
//   calendar Y    himekuri, or.txt = Y: the page in its pane, by its helper
//   calendar N    himekuri, or.txt = N: a picture in its pane, no helper
//   bare webview  bench_webview, one QWebEngineView of the pane's size
// Each one's whole process tree is read 10 s after its page loaded (Y: its
// helper's view mapped in its window; N: its window mapped; the webview: its
// own word) and again REST seconds later, the pointer away from them all:
// PSS, processes, and the CPU time spent in between. Then the pointer goes
// into calendar Y's pane WAKES times, each time once the helper has handed
// over its picture and ended, and is timed until a new helper's view is mapped.
//
// usage: bench_pane [--rest-seconds N] [--wakes N] HIMEKURI WEBVIEW
// DISPLAY must name the X server (openbox on it), xdotool must be on PATH.
// Exit status: 0 when every figure was taken, 1 otherwise. Figures are never
// judged.

#include "benchsupport.h"

#include <deque>

namespace {

using namespace bench;

constexpr auto PageUrl = "http://www.example.net/~tesrava/";
constexpr int LoadTimeoutS = 60;
constexpr int SettleS = 10;
constexpr int HelperTimeoutS = 30;
// The middle of the pane (at 0,0 of the calendar's client area, 249 x 81)
// in the calendar window, whose frame is 3 pixels wide.
constexpr int PaneMiddleX = 3 + 124, PaneMiddleY = 3 + 40;
// On the root window, clear of every program's window.
constexpr int AwayX = 520, AwayY = 720;

volatile sig_atomic_t stopRequested = 0;

struct Subject
{
    Subject(const std::string &name, const std::string &path, std::string answer)
        : program(name, path)
        , answer(std::move(answer))
    { }

    Program program;
    std::string answer; // or.txt; empty for the webview
    std::string error;
    xcb_window_t form1 = XCB_NONE;
    std::optional<Clock::time_point> started, loaded;
    std::optional<TreeFigures> at[2];
};

// A window of the window manager's list with that role, shown by that process.
xcb_window_t find_window(XServer &x, const std::string &role, pid_t pid)
{
    static const xcb_atom_t list = x.atom("_NET_CLIENT_LIST");
    const std::string ids = x.property(x.root, list).value_or("");
    for (size_t i = 0; i + 4 <= ids.size(); i += 4) {
        xcb_window_t w;
        std::memcpy(&w, ids.data() + i, 4);
        if (x.role(w) == role && x.owner(w) == pid && x.viewable(w))
            return w;
    }
    return XCB_NONE;
}

// A mapped window inside W of another process than PID: the helper's view.
xcb_window_t helper_view(XServer &x, xcb_window_t w, pid_t pid)
{
    for (xcb_window_t child : x.children(w)) {
        if (!x.viewable(child))
            continue;
        if (x.owner(child) != pid)
            return child;
        if (const xcb_window_t inner = helper_view(x, child, pid))
            return inner;
    }
    return XCB_NONE;
}

// xdotool moves the pointer by XTest, as a mouse would.
bool move_pointer(int x, int y)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string xs = std::to_string(x), ys = std::to_string(y);
        execlp("xdotool", "xdotool", "mousemove", xs.c_str(), ys.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)
        && WEXITSTATUS(status) == 0;
}

bool page_loaded(XServer &x, Subject &s)
{
    if (s.answer.empty()) {
        bool loaded = false;
        for (const auto &line : s.program.lines()) {
            loaded = loaded || line == "loaded";
            if (line == "failed")
                s.error = "its page failed to load";
        }
        return loaded;
    }
    if (!s.form1) {
        s.form1 = find_window(x, "Form1", s.program.pid);
        // Calendar N to the top left, clear of calendar Y's window (top right).
        const uint32_t top_left[] = {0, 0};
        if (s.form1 && s.answer[0] == 'N') {
            xcb_configure_window(x.c, s.form1, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, top_left);
            xcb_flush(x.c);
        }
        return s.form1 && s.answer[0] == 'N';
    }
    return helper_view(x, s.form1, s.program.pid) != XCB_NONE;
}

// Waits for each page, then reads each tree SettleS after its page loaded
// and REST seconds later.
void measure(XServer &x, std::deque<Subject> &subjects, int rest)
{
    const auto deadline = Clock::now() + std::chrono::seconds(LoadTimeoutS);
    for (bool pending = true; pending; sleep_ms(20)) {
        pending = false;
        for (auto &s : subjects) {
            if (!s.error.empty() || s.at[1])
                continue;
            const auto now = Clock::now();
            if (stopRequested) {
                s.error = "interrupted";
            } else if (s.program.reap()) {
                s.error = "it " + describe_exit(s.program.status)
                    + (s.loaded ? " while it was measured" : " before its page loaded");
            } else if (!s.loaded && now >= deadline) {
                s.error = "its page did not load within " + std::to_string(LoadTimeoutS) + " s";
            } else if (!s.loaded) {
                if (page_loaded(x, s))
                    s.loaded = now;
            } else {
                const int i = s.at[0] ? 1 : 0;
                if (now >= *s.loaded + std::chrono::seconds(SettleS + i * rest))
                    s.at[i] = tree_figures(s.program.pid);
            }
            pending = pending || (s.error.empty() && !s.at[1]);
        }
    }
}

// Once calendar Y's helper has handed over its picture and ended, the
// pointer into the pane: ms until a new helper's view is mapped.
std::optional<double> wake(XServer &x, Subject &y, std::string &why)
{
    const auto limit = std::chrono::seconds(HelperTimeoutS);
    for (const auto since = Clock::now();
         process_tree(y.program.pid).size() > 1 || helper_view(x, y.form1, y.program.pid);
         sleep_ms(50)) {
        if (stopRequested || y.program.reap() || Clock::now() >= since + limit) {
            why = stopRequested   ? "interrupted"
                : y.program.ended ? "the calendar " + describe_exit(y.program.status)
                                  : "its helper did not hand over a picture and end within "
                    + std::to_string(HelperTimeoutS) + " s";
            return std::nullopt;
        }
    }
    auto *r = xcb_translate_coordinates_reply(
        x.c, xcb_translate_coordinates(x.c, y.form1, x.root, PaneMiddleX, PaneMiddleY), nullptr);
    const bool placed = r;
    const int px = r ? r->dst_x : 0, py = r ? r->dst_y : 0;
    free(r);
    std::optional<double> ms;
    if (!placed || !move_pointer(px, py)) {
        why = placed ? "xdotool could not move the pointer" : "the calendar window is gone";
        return ms;
    }
    const auto entered = Clock::now();
    while (!ms && why.empty()) {
        if (helper_view(x, y.form1, y.program.pid))
            ms = ms_between(entered, Clock::now());
        else if (stopRequested || Clock::now() >= entered + limit)
            why = stopRequested ? "interrupted"
                                : "no helper view within " + std::to_string(HelperTimeoutS) + " s";
        sleep_ms(5);
    }
    move_pointer(AwayX, AwayY);
    return ms;
}

std::string mib(long kib)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", kib / 1024.0);
    return text;
}

int usage(const char *self)
{
    std::fprintf(stderr, "usage: %s [--rest-seconds N] [--wakes N] HIMEKURI WEBVIEW\n", self);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    int rest = 60, wakes = 5;
    const auto positional =
        parse_command_line(argc, argv, {{"--rest-seconds", &rest, 1}, {"--wakes", &wakes, 0}});
    if (!positional)
        return usage(argv[0]);
    if (!all_executable(*positional))
        return 1;
    XServer x;
    if (!x.ok()) {
        std::fprintf(stderr, "bench: cannot open display '%s'\n", std::getenv("DISPLAY"));
        return 1;
    }
    struct sigaction action = {};
    action.sa_handler = [](int) {
        stopRequested = 1;
    };
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &action, nullptr);

    const std::string rest_label = "+" + std::to_string(SettleS + rest) + " s";
    std::printf("display %s, load average %s; the page %s; each program's whole process tree "
                "%d s after its page loaded and %d s later, the pointer away\n",
                std::getenv("DISPLAY"), load_average().c_str(), PageUrl, SettleS, rest);
    std::fflush(stdout);
    move_pointer(AwayX, AwayY);
    std::deque<Subject> subjects;
    subjects.emplace_back("calendar Y", (*positional)[0], "Y\r\n");
    subjects.emplace_back("calendar N", (*positional)[0], "N\r\n");
    subjects.emplace_back("bare webview", (*positional)[1], "");
    subjects[2].program.args = {PageUrl};
    for (auto &s : subjects) {
        std::vector<std::string> env;
        // Chromium refuses to run as root with its sandbox; the calendar
        // tells its helper so itself.
        if (s.answer.empty() && geteuid() == 0)
            env.push_back("QTWEBENGINE_DISABLE_SANDBOX=1");
        if (s.program.prepare(s.answer, s.error) && s.program.start(env, s.answer.empty(), s.error))
            s.started = Clock::now();
    }
    measure(x, subjects, rest);

    Subject &y = subjects[0];
    std::vector<double> woken;
    std::string why = y.at[1] ? "" : "not tried, calendar Y was not measured";
    while (why.empty() && int(woken.size()) < wakes) {
        if (const auto ms = wake(x, y, why))
            woken.push_back(*ms);
    }

    std::printf("\n%-13s %8s %9s %6s %9s %6s %11s\n", "program", "loaded", "PSS MiB", "procs",
                "PSS MiB", "procs", "CPU ms/min");
    std::printf("%-13s %8s %9s %6s %9s %6s %11s\n", "", "after s", "+10 s", "", rest_label.c_str(),
                "", "at rest");
    bool failed = !why.empty();
    for (auto &s : subjects) {
        s.program.end();
        if (!s.error.empty() || !s.at[1]) {
            std::printf("%-13s FAILED: %s\n", s.program.name.c_str(), s.error.c_str());
            const std::string log = s.program.dir.empty() ? "" : read_file(s.program.log(), 1500);
            if (!log.empty())
                std::printf("  its output:\n%s\n", log.c_str());
            failed = true;
            continue;
        }
        std::printf("%-13s %8.1f %9s %6d %9s %6d %11.0f\n", s.program.name.c_str(),
                    ms_between(*s.started, *s.loaded) / 1000, mib(s.at[0]->pss_kib).c_str(),
                    s.at[0]->processes, mib(s.at[1]->pss_kib).c_str(), s.at[1]->processes,
                    (s.at[1]->cpu_ms - s.at[0]->cpu_ms) * 60.0 / rest);
        if (s.at[0]->unreadable || s.at[1]->unreadable)
            std::printf("  note: the memory of %d and %d of its processes could not be read\n",
                        s.at[0]->unreadable, s.at[1]->unreadable);
    }

    std::printf("\n");
    for (const auto &[other, goal] : {std::pair(1, "1.2"), std::pair(2, "0.1")}) {
        std::printf("PSS at rest (%s), calendar Y / %-12s: ", rest_label.c_str(),
                    subjects[other].program.name.c_str());
        if (y.at[1] && subjects[other].at[1])
            std::printf("%.2f", double(y.at[1]->pss_kib) / double(subjects[other].at[1]->pss_kib));
        else
            std::printf("-");
        std::printf(" (goal <= %s)\n", goal);
    }
    std::printf("pointer into calendar Y's pane until its helper's view is mapped, ms:");
    for (double ms : woken)
        std::printf(" %.0f", ms);
    if (!woken.empty())
        std::printf("; median %.0f, max %.0f", median(woken),
                    *std::max_element(woken.begin(), woken.end()));
    std::printf(" (goal <= 1500)%s%s\n", why.empty() ? "" : "; stopped: ", why.c_str());
    std::printf("load average at the end %s\n", load_average().c_str());
    return failed || stopRequested ? 1 : 0;
}
