#!/usr/bin/env bash
# Builds and runs every benchmark program and prints each figure as a ratio
# against a baseline measured in the same run. See usage below.
set -euo pipefail

me=bench.sh
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

usage() {
    cat <<TEXT
Usage: $me [options] [BUILD_DIR]
Builds the benchmark programs of bench/ in BUILD_DIR (a Release build, by
default build-release), runs every one of them, and prints each figure as a
ratio against a baseline measured in the same run:
  - presenting a frame against a plain copy of its output (lcd_bench);
  - one loop pass of each flight page against clearing and presenting alone
    (pages_bench);
  - the serial port's latency and throughput on a pseudo-terminal against
    QSerialPort's, and the CPU an idle open port uses (serial_pty);
  - 1, 10 and 100 ports receiving 16 bytes each every 10 ms against as many
    QSerialPorts: CPU per wall time, latency, descriptors and threads per
    port, bytes lost (serial_ports);
  - the terminal control, painting included, against libvterm's screen
    layer on the same bytes: plain lines, recorded programs, and text dense
    in attributes and cursor addressing, and the memory over 20 MB
    (terminal_bench);
  - the CPU time per wall time of the running window, ON, on its own and
    connected to the sensor unit emulator, and the one against the other
    (instrument_cpu: the window on a virtual X server of its own).
Any other program in bench/ is run as well; its output is kept in the log.
The benchmarks' own output is kept in BUILD_DIR/bench-results. The figures
are only comparable within one run: quote ratios, not times.

Options:
  --baseline-build DIR  also measure the running window of another build
                        (before a change) in the same rounds, and print this
                        build's CPU against it
  --quick               fewer and shorter rounds: a check that everything
                        runs, with noisier figures
  --no-build            run what BUILD_DIR holds, without building
  -h, --help            Show this help and exit.
  -v, --version         Show the version and exit.

Needs Google Benchmark, Qt's serial port module for the serial baseline, and
Xvfb for the running window (Debian: libbenchmark-dev qt6-serialport-dev xvfb).
TEXT
}

reject() {
    echo "$me: $1 (see $me --help)" >&2
    exit 2
}

fail() {
    echo "$me: $1" >&2
    exit 1
}

baseline_build=
quick=0
build_first=1
positional=()
while [ $# -gt 0 ]; do
    case $1 in
    -h | --help) usage; exit 0 ;;
    -v | --version)
        version=$(sed -n 's/^project([a-z_]* VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
        echo "$me (Tarnby) ${version:-unknown}"
        exit 0 ;;
    --baseline-build)
        [ $# -ge 2 ] || reject "--baseline-build wants a folder"
        baseline_build=$2
        shift ;;
    --baseline-build=*) baseline_build=${1#*=} ;;
    --quick) quick=1 ;;
    --no-build) build_first=0 ;;
    --) shift; positional+=("$@"); break ;;
    -?*) reject "unknown option '${1%%=*}'" ;;
    *) positional+=("$1") ;;
    esac
    shift
done
[ ${#positional[@]} -le 1 ] || reject "one BUILD_DIR at most, not ${#positional[@]} arguments"
build=${positional[0]:-$root/build-release}
baseline_window=
if [ -n "$baseline_build" ]; then
    baseline_window=$baseline_build/app/tarnby
    [ -x "$baseline_window" ] || fail "no window in $baseline_build (no $baseline_window)"
fi

if [ "$build_first" = 1 ]; then
    targets=(tarnby sensor_emulator)
    for src in "$root"/bench/*.cpp; do
        targets+=("$(basename "$src" .cpp)")
    done
    echo "Building ${targets[*]} in $build (Release)"
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null || fail "cmake could not configure $build"
    cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}" >/dev/null ||
        fail "the build failed; run: cmake --build $build --target ${targets[*]}"
fi
[ -d "$build/bench" ] || fail "no benchmarks in $build (configure it with -DTARNBY_BUILD_BENCH=ON and Google Benchmark installed)"

results=$build/bench-results
mkdir -p "$results"
rm -f -- "$results"/*.json "$results"/*.log

if [ "$quick" = 1 ]; then
    repetitions=2
    cpu_args=(--seconds=3 --warmup=3 --rounds=1)
    min_time=0.1
    ports_args=(--quick)
else
    repetitions=5
    cpu_args=(--seconds=10 --warmup=4 --rounds=3)
    min_time=0.5
    ports_args=()
fi
[ -n "$baseline_window" ] && cpu_args+=("--baseline-tarnby=$baseline_window")

failed=()
run() {  # run <program> [arguments...]: JSON into bench-results/<program>.json
    local program=$1 name
    name=$(basename "$program")
    shift
    echo "Running $name" >&2
    if ! "$program" "$@" --benchmark_out="$results/$name.json" --benchmark_out_format=json \
        >"$results/$name.log" 2>&1; then
        failed+=("$name")
        echo "$me: $name failed; its output is in $results/$name.log" >&2
    fi
}

for program in "$build"/bench/*; do
    if [ ! -f "$program" ] || [ ! -x "$program" ]; then continue; fi
    case $(basename "$program") in
    instrument_cpu) run "$program" "${cpu_args[@]}" ;;
    serial_pty) run "$program" ;;  # takes turns with its baseline itself
    serial_ports) run "$program" "${ports_args[@]}" ;;
    *) run "$program" --benchmark_repetitions="$repetitions" --benchmark_enable_random_interleaving=true \
        --benchmark_min_time="$min_time" ;;
    esac
done

# Google Benchmark's JSON has one field a line. Every run of a benchmark (a
# repetition or a round) is kept; a figure is the median over them, and a
# ratio is the ratio of medians, with the range of the ratios of the runs
# taken in the same turn.
summary=$(cat "$results"/*.json 2>/dev/null | awk -v baseline="${baseline_window:+yes}" '
function field(line) { sub(/^[^:]*: */, "", line); sub(/,$/, "", line); gsub(/"/, "", line); return line }
# A run is known by its name without the settings Google Benchmark adds.
/^ *"name":/ {
    name = field($0); kind = "iteration"; skipped = 0
    gsub(/\/(iterations|repeats|threads):[0-9]+|\/(manual|real)_time|\/min_time:[0-9.]+/, "", name)
    next
}
/^ *"run_type":/ { kind = field($0); next }
/^ *"error_occurred": true/ { skipped = 1; next }
/^ *"[a-z0-9_]+": [-0-9.e+]+,?$/ {
    if (kind != "iteration" || skipped) next
    key = $0; sub(/^ *"/, "", key); sub(/".*/, "", key)
    k = name SUBSEP key
    n[k]++
    v[k, n[k]] = field($0) + 0
}
function median(name, key,    k, m, i, j, t, a) {
    k = name SUBSEP key; m = n[k]
    if (m == 0) return -1
    for (i = 1; i <= m; i++) a[i] = v[k, i]
    for (i = 2; i <= m; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
    return m % 2 ? a[(m + 1) / 2] : (a[m / 2] + a[m / 2 + 1]) / 2
}
# "a / b" of two medians, then the lowest and highest ratio of runs paired
# in the order they were taken.
function ratio(label, a, ka, b, kb,    ma, mb, i, m, r, lo, hi) {
    ma = median(a, ka); mb = median(b, kb)
    if (ma < 0 || mb <= 0) { printf "  %-52s (not measured)\n", label; return }
    m = n[a SUBSEP ka] < n[b SUBSEP kb] ? n[a SUBSEP ka] : n[b SUBSEP kb]
    lo = hi = -1
    for (i = 1; i <= m; i++) {
        if (v[b SUBSEP kb, i] <= 0) continue
        r = v[a SUBSEP ka, i] / v[b SUBSEP kb, i]
        if (lo < 0 || r < lo) lo = r
        if (r > hi) hi = r
    }
    if (m > 1) printf "  %-52s %7.2f   (%.2f .. %.2f over %d runs)\n", label, ma / mb, lo, hi, m
    else printf "  %-52s %7.2f\n", label, ma / mb
}
function amount(label, name, key, unit,    m) {
    m = median(name, key)
    if (m < 0) { printf "  %-52s (not measured)\n", label; return }
    printf "  %-52s %7.0f %s\n", label, m, unit
}
function share(label, name, key, scale,    m, i, lo, hi, k) {
    m = median(name, key)
    if (m < 0) { printf "  %-52s (not measured)\n", label; return }
    k = name SUBSEP key; lo = hi = v[k, 1]
    for (i = 2; i <= n[k]; i++) { if (v[k, i] < lo) lo = v[k, i]; if (v[k, i] > hi) hi = v[k, i] }
    if (n[k] > 1) printf "  %-52s %6.3f %%  (%.3f .. %.3f over %d runs)\n", label, m * scale, lo * scale, hi * scale, n[k]
    else printf "  %-52s %6.3f %%\n", label, m * scale
}
END {
    print "Presenting a frame (lcd_bench), time against time"
    ratio("lcd_present / plain copy of its output", "BM_Present", "cpu_time", "BM_CopySurface", "cpu_time")
    ratio("pixel at a time into a QImage / lcd_present", "BM_PresentQImage", "cpu_time", "BM_Present", "cpu_time")
    ratio("busy frame, naive drawing / the engine", "BM_BusyFrameNaive", "cpu_time", "BM_BusyFrame", "cpu_time")
    print ""
    print "One loop pass per page (pages_bench), page / clear and present alone"
    split("Attitude_Level Attitude_Bank100 Attitude_AllGround Attitude_AllOverlays Compass_Card1 Compass_Card2WithBug Compass_Rose TurnBank_FromBank TurnBank_FromTurnRate NoData", pages, " ")
    for (i = 1; i in pages; i++) ratio(pages[i], pages[i], "cpu_time", "Baseline_ClearAndPresent", "cpu_time")
    print ""
    print "Serial port on a pseudo-terminal (serial_pty), this component / QSerialPort"
    ratio("latency, median", "CportLatency", "median_us", "QSerialPortLatency", "median_us")
    ratio("latency, 99th percentile", "CportLatency", "p99_us", "QSerialPortLatency", "p99_us")
    ratio("throughput (bytes per second)", "CportThroughput", "bytes_per_second", "QSerialPortThroughput", "bytes_per_second")
    share("idle open port, CPU time / wall time", "BM_CportIdleCpu", "cpu_ms_per_s", 0.1)
    print ""
    print "Many ports, 16 bytes to each every 10 ms (serial_ports), this component / QSerialPort"
    split("1 10 100", sizes, " ")
    for (i = 1; i in sizes; i++) {
        p = sizes[i]; c = "CportPorts/" p; q = "QSerialPortPorts/" p
        ratio(p " ports: CPU time / wall time", c, "cpu_pct", q, "cpu_pct")
        ratio(p " ports: latency, median", c, "median_us", q, "median_us")
        ratio(p " ports: latency, 99th percentile", c, "p99_us", q, "p99_us")
        printf "  %-52s %s / %s\n", p " ports: descriptors per port", median(c, "fds_per_port"), median(q, "fds_per_port")
        printf "  %-52s %s / %s\n", p " ports: threads per port", median(c, "threads_per_port"), median(q, "threads_per_port")
        printf "  %-52s %s / %s\n", p " ports: bytes lost", median(c, "bytes_lost"), median(q, "bytes_lost")
    }
    print ""
    print "Terminal control with its painting (terminal_bench), throughput / libvterm screen layer"
    ratio("plain text lines", "BM_Terminal/stream:0", "bytes_per_second", "BM_Vterm/stream:0", "bytes_per_second")
    ratio("recorded programs", "BM_Terminal/stream:1", "bytes_per_second", "BM_Vterm/stream:1", "bytes_per_second")
    ratio("dense attributes and cursor addressing", "BM_Terminal/stream:2", "bytes_per_second", "BM_Vterm/stream:2", "bytes_per_second")
    ratio("plain text lines, by CPU time", "BM_Vterm/stream:0", "cpu_time", "BM_Terminal/stream:0", "cpu_time")
    ratio("recorded programs, by CPU time", "BM_Vterm/stream:1", "cpu_time", "BM_Terminal/stream:1", "cpu_time")
    ratio("dense, by CPU time", "BM_Vterm/stream:2", "cpu_time", "BM_Terminal/stream:2", "cpu_time")
    amount("resident memory growth over 20 MB, the control", "BM_TerminalMemory", "rss_growth_kb", "KB")
    amount("resident memory growth over 20 MB, libvterm", "BM_VtermMemory", "rss_growth_kb", "KB")
    print ""
    print "The running window, ON, under Xvfb (instrument_cpu), CPU time / wall time"
    share("unconnected", "Window/unconnected", "cpu_pct", 1)
    share("connected to the sensor unit emulator", "Window/connected", "cpu_pct", 1)
    ratio("connected / unconnected", "Window/connected", "cpu_pct", "Window/unconnected", "cpu_pct")
    share("X server, for the window unconnected", "Window/unconnected", "x_cpu_pct", 1)
    share("X server, for the window connected", "Window/connected", "x_cpu_pct", 1)
    if (baseline == "yes") {
        share("baseline build, unconnected", "Baseline/unconnected", "cpu_pct", 1)
        share("baseline build, connected", "Baseline/connected", "cpu_pct", 1)
        ratio("baseline build, connected / unconnected", "Baseline/connected", "cpu_pct", "Baseline/unconnected", "cpu_pct")
        ratio("this build / baseline build, unconnected", "Window/unconnected", "cpu_pct", "Baseline/unconnected", "cpu_pct")
        ratio("this build / baseline build, connected", "Window/connected", "cpu_pct", "Baseline/connected", "cpu_pct")
        ratio("this build connected / baseline unconnected", "Window/connected", "cpu_pct", "Baseline/unconnected", "cpu_pct")
    }
}')

echo
echo "Tarnby benchmarks in $build; every figure against a baseline of the same run:"
echo "a median over the runs, with the range of the runs."
echo
echo "$summary"
if [ ${#failed[@]} -gt 0 ]; then
    echo
    fail "failed: ${failed[*]} (logs in $results)"
fi
