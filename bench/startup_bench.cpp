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
//                      [--hostile] HIMEKURI MINIMAL
// DISPLAY must name that X server.

#include "benchsupport.h"

#include <poll.h>

namespace {

using namespace bench;

// What the calendar finds at de.txt: a line, or what a broken machine leaves there.
enum class Board { Absent, Line, Fifo, Zero, LongLine, BigFile };

struct Subject
{
    std::string name;
    std::string path;
    std::string role;
    Board board = Board::Absent;
};

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
    case Board::LongLine: {
        // A user's file has long been on disk: written just now, its
        // writeback would run during the start being timed.
        const bool made = write_file(path, std::string(50'000'000, 'x') + "\r\n");
        sync();
        return made;
    }
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

// Waits for the child's window with the subject's role; returns when it was mapped.
std::optional<Clock::time_point> wait_for_role(XServer &x, Program &p, const Subject &subject,
                                               Clock::time_point start, const Options &options,
                                               Sample &sample)
{
    // Mapped windows that had no role yet, with their map time, in case
    // the role is set after mapping.
    std::map<xcb_window_t, Clock::time_point> unnamed;
    const auto deadline = start + std::chrono::milliseconds(options.timeout_ms);
    for (;;) {
        if (p.reap()) {
            sample.error = "the program " + describe_exit(p.status) + " before mapping its "
                + subject.role + " window";
            return std::nullopt;
        }
        if (Clock::now() >= deadline) {
            sample.error = "no " + subject.role + " window mapped within "
                + std::to_string(options.timeout_ms) + " ms";
            if (sample.first_map_ms >= 0)
                sample.error += " (a window with role " + sample.first_role + " was mapped)";
            return std::nullopt;
        }
        xcb_generic_event_t *ev = xcb_poll_for_event(x.c);
        if (!ev) {
            // Events wake us at once; the bound only lets us notice a crash.
            pollfd pfd {xcb_get_file_descriptor(x.c), POLLIN, 0};
            poll(&pfd, 1, 50);
            continue;
        }
        const auto at = Clock::now();
        const int type = ev->response_type & 0x7f;
        std::optional<Clock::time_point> found;
        if (type == XCB_MAP_NOTIFY) {
            const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(ev);
            const auto owner = x.owner(map->window);
            const auto role = x.role(map->window);
            if (map->event == x.root && (!owner || *owner == p.pid)) {
                if (sample.first_map_ms < 0) {
                    sample.first_map_ms = ms_between(start, at);
                    sample.first_role = role ? *role : "(no role)";
                }
                if (role && *role == subject.role) {
                    found = at;
                } else if (!role) {
                    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
                    xcb_change_window_attributes(x.c, map->window, XCB_CW_EVENT_MASK, &mask);
                    unnamed[map->window] = at;
                }
            }
        } else if (type == XCB_PROPERTY_NOTIFY) {
            const auto *prop = reinterpret_cast<xcb_property_notify_event_t *>(ev);
            const auto it = unnamed.find(prop->window);
            if (prop->atom == x.role_atom && it != unnamed.end()
                && x.role(prop->window) == subject.role)
                found = it->second;
        }
        free(ev);
        if (found)
            return found;
    }
}

Sample run(XServer &x, const Subject &subject, const Options &options)
{
    Sample sample;
    Program p(subject.name, subject.path);
    if (!p.prepare("N\r\n", sample.error))
        return sample;
    if (!prepare_board(p.data() + "/de.txt", subject.board)) {
        sample.error = "could not prepare de.txt in " + p.data();
        return sample;
    }
    // Nothing left over from the previous run may be taken for this one.
    free(xcb_get_input_focus_reply(x.c, xcb_get_input_focus(x.c), nullptr));
    while (xcb_generic_event_t *ev = xcb_poll_for_event(x.c))
        free(ev);

    const auto start = Clock::now();
    if (!p.start({}, false, sample.error))
        return sample;
    const auto mapped = wait_for_role(x, p, subject, start, options, sample);
    if (mapped) {
        sample.role_map_ms = ms_between(start, *mapped);
        // Resident memory once start-up work triggered by showing the window
        // (first paint, deferred loading) has had time to happen.
        std::this_thread::sleep_until(*mapped + std::chrono::milliseconds(options.settle_ms));
        if (p.reap()) {
            sample.error = "the program " + describe_exit(p.status) + " while its window was shown";
        } else {
            sample.rss_kib = proc_kib(p.pid, "status", "VmRSS");
            sample.webengine =
                read_file("/proc/" + std::to_string(p.pid) + "/maps").find("libQt6WebEngine")
                != std::string::npos;
            sample.ok = sample.rss_kib >= 0;
            if (!sample.ok)
                sample.error = "could not read VmRSS";
        }
    }
    p.end();
    if (!sample.ok) {
        const std::string text = read_file(p.log(), 1500);
        if (!text.empty())
            sample.error += "\n  program output:\n" + text;
    }
    return sample;
}

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
    const auto positional = parse_command_line(argc, argv,
                                               {{"--runs", &options.runs, 1},
                                                {"--warmup", &options.warmup, 0},
                                                {"--settle-ms", &options.settle_ms, 0},
                                                {"--timeout-ms", &options.timeout_ms, 1}},
                                               [&hostile](const std::string &arg, int &) {
                                                   return arg == "--hostile" && (hostile = true);
                                               });
    if (!positional)
        return usage(argv[0]);
    if (!all_executable(*positional))
        return 1;

    std::vector<Subject> subjects = {
        {"himekuri", (*positional)[0], "Form1", Board::Line},
        {"minimal", (*positional)[1], "Minimal"},
    };
    if (hostile) {
        subjects.insert(subjects.end(),
                        {
                            {"fifo", (*positional)[0], "Form1", Board::Fifo},
                            {"zero", (*positional)[0], "Form1", Board::Zero},
                            {"50MB-line", (*positional)[0], "Form1", Board::LongLine},
                            {"1GB-file", (*positional)[0], "Form1", Board::BigFile},
                        });
    }

    XServer x;
    if (!x.ok()) {
        std::fprintf(stderr, "bench: cannot open display '%s'\n",
                     std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
        return 1;
    }
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x.c, x.root, XCB_CW_EVENT_MASK, &mask);

    std::printf("display %s, %d run(s) per program after %d warm-up run(s), interleaved; "
                "RSS read %d ms after the window is mapped\n",
                std::getenv("DISPLAY"), options.runs, options.warmup, options.settle_ms);
    std::printf("%-8s %-10s %13s %-10s %12s %10s %9s\n", "run", "program", "first map ms",
                "first role", "role map ms", "RSS KiB", "WebEngine");

    std::vector<std::vector<Sample>> results(subjects.size());
    bool failed = false;
    for (int i = 0; i < options.warmup + options.runs; ++i) {
        const bool warm_up = i < options.warmup;
        const std::string label = warm_up ? "warm-up" : std::to_string(i - options.warmup + 1);
        for (size_t s = 0; s < subjects.size(); ++s) {
            const Sample sample = run(x, subjects[s], options);
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

    struct Summary
    {
        double first = 0, role = 0, rss = 0;
        size_t webengine = 0, n = 0;
    };
    std::vector<Summary> summary(subjects.size());
    std::printf("\n");
    for (size_t s = 0; s < subjects.size(); ++s) {
        std::vector<double> first, role, rss;
        Summary &m = summary[s];
        for (const auto &r : results[s]) {
            first.push_back(r.first_map_ms);
            role.push_back(r.role_map_ms);
            rss.push_back(double(r.rss_kib));
            m.webengine += r.webengine;
        }
        m.first = median(first), m.role = median(role), m.rss = median(rss);
        m.n = results[s].size();
        if (m.n == 0) {
            std::printf("median %-10s: no successful run\n", subjects[s].name.c_str());
            continue;
        }
        std::printf("median %-10s (%zu runs): first window %8.1f ms, %-7s window %8.1f ms, "
                    "RSS %7.0f KiB (%.1f MiB)\n",
                    subjects[s].name.c_str(), m.n, m.first, subjects[s].role.c_str(), m.role, m.rss,
                    m.rss / 1024);
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
    return failed || summary[0].webengine ? 1 : 0;
}
