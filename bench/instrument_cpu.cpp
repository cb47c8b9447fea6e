// What the running instrument costs: the real window on a virtual X server
// of its own, switched ON with the sliders at rest (level flight at 1 G),
// once on its own ("unconnected") and once connected to the sensor unit
// emulator on a pseudo-terminal ("connected"). Each run waits out the start
// and the splash, then reads the window's process CPU time (all its threads)
// over a fixed stretch of wall time. The X server's CPU over the same stretch
// is kept beside it, since every repaint makes it work too.
//
// The CPU time per wall time of a run is its result; what to quote are the
// ratios between runs of the same invocation (tools/bench.sh prints them):
// connected against unconnected, and, with --baseline-tarnby, this build
// against another one (before and after a change). The kinds of run take
// turns, round after round, so that a busy neighbour on the machine weighs
// on all of them alike.
//
// Options, before Google Benchmark's own:
//   --tarnby=PATH            the window to measure (default: this build's)
//   --baseline-tarnby=PATH   another build's window, measured in the same rounds
//   --emulator=PATH          the sensor unit emulator (default: this build's)
//   --seconds=N              the measured stretch of each run (default 10)
//   --warmup=N               seconds from start to the measured stretch (default 4)
//   --rounds=N               rounds of every kind of run (default 3)
#include <benchmark/benchmark.h>

#include "this_system.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

#ifndef TARNBY_PROGRAM_PATH
#define TARNBY_PROGRAM_PATH ""
#endif
#ifndef SENSOR_EMULATOR_PATH
#define SENSOR_EMULATOR_PATH ""
#endif

struct Options {
    std::string tarnby = TARNBY_PROGRAM_PATH;
    std::string baseline;
    std::string emulator = SENSOR_EMULATOR_PATH;
    int seconds = 10;
    int warmup = 4;
    int rounds = 3;
};

Options options;
std::string display;  // of our own X server, ":N"
pid_t x_server = -1;

using Environment = std::vector<std::pair<std::string, std::string>>;

// Starts a program, its output into `output` (thrown away if empty); it
// ends with this process where the system sees to that.
pid_t spawn(const std::vector<std::string>& argv, const Environment& environment, int keep_fd = -1,
            const std::string& output = {})
{
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    this_system::end_with_parent();
    if (getppid() != parent)
        _exit(127);
    const int null = open("/dev/null", O_RDWR);
    const int out = output.empty() ? null : open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(null, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != keep_fd)
            close(fd);
    for (const auto& [name, value] : environment)
        setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

void stop(pid_t& pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
}

// CPU seconds the whole process has used so far; nullopt once it has ended.
std::optional<double> cpu_seconds(pid_t pid)
{
    clockid_t clock;
    timespec t{};
    if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &t) != 0)
        return std::nullopt;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool exited(pid_t pid)
{
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

std::string last_line_of(const std::string& path)
{
    std::string last, line;
    if (FILE* f = std::fopen(path.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, f)) {
            line = buffer;
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                line.pop_back();
            if (!line.empty())
                last = line;
        }
        std::fclose(f);
    }
    return last;
}

bool start_x_server()
{
    int ready[2];
    if (pipe(ready) != 0)
        return false;
    x_server = spawn({"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"},
                     {}, ready[1]);
    close(ready[1]);
    std::string number;
    pollfd p{ready[0], POLLIN, 0};
    while (poll(&p, 1, 20000) > 0) {
        char c;
        if (read(ready[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }
    close(ready[0]);
    if (number.empty()) {
        stop(x_server);
        return false;
    }
    display = ":" + number;
    return true;
}

// One run: the window (and for `connected` the emulator), measured over
// options.seconds after options.warmup.
void run_instrument(benchmark::State& state, const std::string& tarnby, bool connected)
{
    pid_t emulator = -1;
    const std::string link = "/tmp/tarnby-bench-link." + std::to_string(getpid());
    Environment environment = {{"DISPLAY", display}, {"TARNBY_AUTO_ON", "0,0,0,0,0,256"}};
    environment.push_back({"QT_QPA_PLATFORM", "xcb"});
    if (connected) {
        unlink(link.c_str());
        emulator = spawn({options.emulator, "--ignore-input", "--quiet", "--link", link}, {});
        struct stat st{};
        for (int n = 0; n < 200 && lstat(link.c_str(), &st) != 0; ++n)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (lstat(link.c_str(), &st) != 0) {
            stop(emulator);
            state.SkipWithError("the sensor unit emulator made no device");
            for (auto _ : state) {
            }
            return;
        }
        environment.push_back({"TARNBY_PORT", link});
        environment.push_back({"TARNBY_AUTO_CONNECT", "1"});
    } else {
        environment.push_back({"TARNBY_PORT", "/nonexistent/tarnby-bench"});
    }
    const std::string window_log = "/tmp/tarnby-bench-window." + std::to_string(getpid());
    pid_t window = spawn({tarnby}, environment, -1, window_log);

    double window_cpu = 0, x_cpu = 0, emulator_cpu = 0, wall = 0;
    bool ended = false;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::seconds(options.warmup));
        const auto w0 = cpu_seconds(window), x0 = cpu_seconds(x_server), e0 = cpu_seconds(emulator);
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(options.seconds));
        const auto w1 = cpu_seconds(window), x1 = cpu_seconds(x_server), e1 = cpu_seconds(emulator);
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(wall);
        ended = !w0 || !w1 || exited(window);
        if (!ended) {
            window_cpu = *w1 - *w0;
            x_cpu = x0 && x1 ? *x1 - *x0 : 0;
            emulator_cpu = e0 && e1 ? *e1 - *e0 : 0;
        }
    }
    stop(window);
    stop(emulator);
    unlink(link.c_str());
    const std::string said = last_line_of(window_log);
    unlink(window_log.c_str());
    if (ended) {
        const std::string error = "the window ended before the stretch was over" + (said.empty() ? "" : ": " + said);
        state.SkipWithError(error.c_str());
        return;
    }
    state.counters["cpu_pct"] = 100 * window_cpu / wall;
    state.counters["x_cpu_pct"] = 100 * x_cpu / wall;
    if (connected)
        state.counters["emulator_cpu_pct"] = 100 * emulator_cpu / wall;
}

bool take_option(const char* arg, const char* name, std::string& value)
{
    const size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0 || arg[n] != '=')
        return false;
    value = arg + n + 1;
    return true;
}

bool take_number(const char* arg, const char* name, int& value)
{
    std::string text;
    if (!take_option(arg, name, text))
        return false;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < 1 || v > 3600) {
        std::fprintf(stderr, "instrument_cpu: %s wants a whole number of 1 to 3600, not '%s'\n", name, text.c_str());
        std::exit(2);
    }
    value = static_cast<int>(v);
    return true;
}

// Takes our options out of argv, leaving Google Benchmark's.
void parse_options(int& argc, char** argv)
{
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (take_option(a, "--tarnby", options.tarnby) || take_option(a, "--baseline-tarnby", options.baseline) ||
            take_option(a, "--emulator", options.emulator) || take_number(a, "--seconds", options.seconds) ||
            take_number(a, "--warmup", options.warmup) || take_number(a, "--rounds", options.rounds))
            continue;
        argv[kept++] = argv[i];
    }
    argc = kept;
}

bool executable(const std::string& path)
{
    return !path.empty() && access(path.c_str(), X_OK) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    parse_options(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    for (const std::string& program : {options.tarnby, options.emulator})
        if (!executable(program)) {
            std::fprintf(stderr, "instrument_cpu: cannot run '%s'; build tarnby and sensor_emulator first\n",
                         program.c_str());
            return 1;
        }
    if (!options.baseline.empty() && !executable(options.baseline)) {
        std::fprintf(stderr, "instrument_cpu: cannot run '%s'\n", options.baseline.c_str());
        return 1;
    }
    if (!start_x_server()) {
        std::fprintf(stderr, "instrument_cpu: cannot start Xvfb (Debian: apt-get install xvfb)\n");
        return 1;
    }
    std::vector<std::pair<std::string, std::string>> windows = {{"Window", options.tarnby}};
    if (!options.baseline.empty())
        windows.push_back({"Baseline", options.baseline});
    for (int round = 0; round < options.rounds; ++round)
        for (const auto& [label, program] : windows)
            for (const bool connected : {false, true}) {
                const std::string path = program;
                benchmark::RegisterBenchmark((label + (connected ? "/connected" : "/unconnected")).c_str(),
                                             [path, connected](benchmark::State& state) {
                                                 run_instrument(state, path, connected);
                                             })
                    ->Iterations(1)
                    ->UseManualTime()
                    ->Unit(benchmark::kSecond);
            }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    stop(x_server);
    return 0;
}
