// The terminal control, painting included, against libvterm's screen layer
// fed the same bytes in the same run: throughput on three streams of about
// 1 MB given in 4 KB pieces as a port delivers them (plain text lines,
// recorded output of vim, less, top, dialog and vttest, and text dense in
// attributes and cursor addressing), and the growth of the resident memory
// over 20 MB of input. The control is shown on Qt's offscreen platform and
// the event loop runs after every piece, so its frames are painted as they
// fall due (at most one per display frame), as in the program.
#include "tarnby/cport/extras/widgets/com_terminal.h"
#include "this_system.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#ifdef TARNBY_HAVE_VTERM
#include <vterm.h>
#endif

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

using namespace tarnby;

namespace {

constexpr size_t kPiece = 4096;
constexpr size_t kStream = 1 << 20;
constexpr size_t kMemoryBytes = 20 << 20;

std::string Repeat(const std::string& part, size_t size)
{
    std::string out;
    while (out.size() < size)
        out += part;
    return out;
}

std::string PlainStream()
{
    std::string lines;
    for (int n = 1; lines.size() < kStream; ++n)
        lines += "Line " + std::to_string(n) + ": the quick brown fox jumps over the lazy dog, 0123456789.\r\n";
    return lines;
}

std::string RecordedStream()
{
    std::string all;
    for (const char* name : {"vim", "less", "top", "dialog", "vttest"}) {
        std::ifstream file(std::string(TARNBY_CAPTURES) + "/" + name + ".vt", std::ios::binary);
        all += std::string(std::istreambuf_iterator<char>(file), {});
    }
    if (all.empty()) {
        std::fprintf(stderr, "terminal_bench: no captures in %s\n", TARNBY_CAPTURES);
        std::exit(1);
    }
    return Repeat(all, kStream);
}

std::string DenseStream()
{
    std::mt19937 random(20261207);
    std::string out;
    const char* const looks[] = {"\x1b[m", "\x1b[1m", "\x1b[7m", "\x1b[4m", "\x1b[1;7m", "\x1b[0;4;7m"};
    while (out.size() < kStream) {
        out += "\x1b[" + std::to_string(1 + random() % 24) + ";" + std::to_string(1 + random() % 70) + "H";
        out += looks[random() % std::size(looks)];
        out += "ab12";
        out += looks[random() % std::size(looks)];
        out += "xyz";
    }
    return out;
}

const std::string& Stream(int which)
{
    static const std::string streams[] = {PlainStream(), RecordedStream(), DenseStream()};
    return streams[which];
}

// A terminal as the program has it: VT100, wrapping on, shown.
struct Control {
    TComTerminal terminal;
    Control()
    {
        terminal.SetWrapLines(true);
        terminal.resize(terminal.sizeHint());
        terminal.show();
        QApplication::processEvents();
    }
    void Feed(const std::string& bytes)
    {
        for (size_t at = 0; at < bytes.size(); at += kPiece) {
            terminal.Write(bytes.data() + at, static_cast<int>(std::min(kPiece, bytes.size() - at)));
            QApplication::processEvents();
        }
    }
};

#ifdef TARNBY_HAVE_VTERM
struct Reference {
    VTerm* vt = vterm_new(24, 80);
    Reference()
    {
        vterm_set_utf8(vt, 0);
        vterm_screen_reset(vterm_obtain_screen(vt), 1);
    }
    ~Reference() { vterm_free(vt); }
    void Feed(const std::string& bytes)
    {
        char answer[256];
        for (size_t at = 0; at < bytes.size(); at += kPiece) {
            vterm_input_write(vt, bytes.data() + at, std::min(kPiece, bytes.size() - at));
            // Answers to the host's queries, read off as a port would send them.
            while (vterm_output_read(vt, answer, sizeof answer) > 0) {
            }
        }
    }
};

#endif

// One stream, by the benchmark's argument, fed over and over.
template <typename Feeder>
void FeedStream(benchmark::State& state, Feeder& feeder)
{
    const std::string& bytes = Stream(static_cast<int>(state.range(0)));
    for (auto _ : state)
        feeder.Feed(bytes);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

// The most the resident memory grows while a fresh feeder takes a part of
// every stream over and over.
template <typename Feeder>
void MemoryGrowth(benchmark::State& state)
{
    const std::string part = Stream(0).substr(0, kStream / 4) + Stream(1).substr(0, kStream / 4) +
                             Stream(2).substr(0, kStream / 4);
    for (auto _ : state) {
        Feeder feeder;
        const long before = this_system::rss_kib();
        long peak = before;
        for (size_t fed = 0; fed < kMemoryBytes; fed += part.size()) {
            feeder.Feed(part);
            peak = std::max(peak, this_system::rss_kib());
        }
        state.counters["rss_growth_kb"] = static_cast<double>(peak - before);
    }
}

void BM_Terminal(benchmark::State& state)
{
    Control control;
    FeedStream(state, control);
    state.counters["frames"] = control.terminal.FramesRequested();
}

void BM_TerminalMemory(benchmark::State& state)
{
    MemoryGrowth<Control>(state);
}

#ifdef TARNBY_HAVE_VTERM
void BM_Vterm(benchmark::State& state)
{
    Reference reference;
    FeedStream(state, reference);
}

void BM_VtermMemory(benchmark::State& state)
{
    MemoryGrowth<Reference>(state);
}
#endif

void Streams(benchmark::internal::Benchmark* b)
{
    b->ArgName("stream")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_Terminal)->Apply(Streams);
BENCHMARK(BM_TerminalMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
#ifdef TARNBY_HAVE_VTERM
BENCHMARK(BM_Vterm)->Apply(Streams);
BENCHMARK(BM_VtermMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
