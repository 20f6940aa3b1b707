// Clock benchmark driver.
//
// Runs himekuri and the floor bench_ticker (one label, a 1000-ms timer) side
// by side on one X server for the same period and, after a warm-up that
// leaves start-up out, reads each one's CPU time (user + system,
// /proc/PID/stat) at the start and the end of the measured period.
//
// usage: bench_clock [--seconds N] [--warmup-seconds N] [--shared NAME=PID]...
//                    HIMEKURI TICKER
// DISPLAY must name the X server. --shared names a process serving both (the
// X server, the window manager) whose CPU time is shown for context.
// Exit status: 0 when both ran through the period, 1 otherwise. Figures are
// never judged.

#include "benchsupport.h"

#include <deque>

namespace {

using namespace bench;

volatile sig_atomic_t stopRequested = 0;

int usage(const char *self)
{
    std::fprintf(stderr,
                 "usage: %s [--seconds N] [--warmup-seconds N] [--shared NAME=PID]... "
                 "HIMEKURI TICKER\n",
                 self);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    int seconds = 600, warmup_seconds = 10;
    std::vector<std::pair<std::string, pid_t>> shared;
    const auto positional = parse_command_line(
        argc, argv, {{"--seconds", &seconds, 1}, {"--warmup-seconds", &warmup_seconds, 0}},
        [&](const std::string &arg, int &i) {
            if (arg != "--shared")
                return false;
            const std::string value = i + 1 < argc ? argv[++i] : "";
            const size_t eq = value.find('=');
            int pid = 0;
            if (eq == std::string::npos || eq == 0 || !parse_int(value.c_str() + eq + 1, 1, &pid))
                return false;
            shared.emplace_back(value.substr(0, eq), pid_t(pid));
            return true;
        });
    if (!positional)
        return usage(argv[0]);
    if (!all_executable(*positional))
        return 1;

    struct sigaction action = {};
    action.sa_handler = [](int) {
        stopRequested = 1;
    };
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &action, nullptr);

    std::printf("display %s; both programs run side by side: %d s warm-up, then %d s measured\n",
                std::getenv("DISPLAY"), warmup_seconds, seconds);
    std::fflush(stdout);

    std::deque<Program> programs;
    programs.emplace_back("himekuri (calendar)", (*positional)[0]);
    programs.emplace_back("ticker (floor)", (*positional)[1]);
    std::string error;
    for (auto &p : programs) {
        if (!p.prepare("N\r\n", error) || !p.start({}, false, error))
            break;
    }

    // Both ends of the period are read alike: the programs, then the shared ones.
    const auto sample = [&] {
        std::vector<std::optional<double>> cpu;
        for (auto &p : programs)
            cpu.push_back(cpu_ms(p.pid, true));
        for (const auto &s : shared)
            cpu.push_back(cpu_ms(s.second));
        return std::make_pair(cpu, load_average());
    };
    const auto started = Clock::now();
    decltype(sample()) from, to;
    for (int phase = 0; error.empty() && phase < 2; ++phase) {
        const auto until = started + std::chrono::seconds(warmup_seconds + phase * seconds);
        while (error.empty() && Clock::now() < until) {
            if (stopRequested)
                error = "interrupted";
            for (auto &p : programs) {
                if (p.reap())
                    error =
                        p.name + " " + describe_exit(p.status) + " before the end of the period";
            }
            sleep_ms(200);
        }
        (phase ? to : from) = sample();
    }

    for (auto &p : programs) {
        p.end();
        if (p.killed)
            std::printf("note: %s did not end within 5 s of SIGTERM; it was killed\n",
                        p.name.c_str());
    }
    if (!error.empty()) {
        std::printf("FAILED: %s\n", error.c_str());
        for (const auto &p : programs) {
            const std::string text = p.dir.empty() ? "" : read_file(p.log(), 1500);
            if (!text.empty())
                std::printf("  %s output:\n%s\n", p.name.c_str(), text.c_str());
        }
        return 1;
    }

    std::printf("\nCPU time over the measured %d s (user + system, /proc/PID/stat, %ld ticks "
                "a second):\n",
                seconds, sysconf(_SC_CLK_TCK));
    std::printf("%-26s %10s %12s %8s\n", "program", "total ms", "ms per hour", "% core");
    std::vector<double> totals;
    bool failed = false;
    for (size_t i = 0; i < from.first.size(); ++i) {
        const bool own = i < programs.size();
        const std::string name =
            own ? programs[i].name : "shared " + shared[i - programs.size()].first;
        if (!from.first[i] || !to.first[i]) {
            std::printf("%-26s could not be read from /proc\n", name.c_str());
            failed = failed || own;
            totals.push_back(-1);
            continue;
        }
        const double total = *to.first[i] - *from.first[i];
        totals.push_back(total);
        std::printf("%-26s %10.0f %12.0f %8.3f%s\n", name.c_str(), total,
                    total / (seconds / 3600.0), total / (seconds * 10.0),
                    own ? "" : "  (serves both)");
    }
    if (totals[0] >= 0 && totals[1] > 0)
        std::printf("ratio calendar/floor (himekuri/ticker) CPU: %.2f (bar: within 2x)\n",
                    totals[0] / totals[1]);
    else if (totals[1] == 0)
        std::printf("ratio calendar/floor: not defined, the ticker used no measurable CPU time; "
                    "measure for longer\n");
    std::printf("machine load (1-minute average, %ld cores): %s at the start, %s at the end\n",
                sysconf(_SC_NPROCESSORS_ONLN), from.second.c_str(), to.second.c_str());
    return failed ? 1 : 0;
}
