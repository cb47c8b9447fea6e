// Listing this machine's serial ports with what each one is (ListComPorts:
// the device tree, the stable links, and every process's open files for
// Busy), against the names alone (EnumComPorts, the baseline) and against
// Qt's QSerialPortInfo::availablePorts, in the same run. A watcher lists
// once per change of the device folder, so this is its cost per event too.
#include "tarnby/cport/cport.h"
#include "tarnby/cport/port_info.h"

#ifdef TARNBY_HAVE_QSERIALPORT
#include <QSerialPortInfo>
#endif

#include <benchmark/benchmark.h>

using namespace tarnby;

namespace {

void Baseline_EnumComPorts(benchmark::State& state)
{
    TStringList names;
    for (auto _ : state) {
        EnumComPorts(names);
        benchmark::DoNotOptimize(names.Count());
    }
}
BENCHMARK(Baseline_EnumComPorts);

void BM_ListComPorts(benchmark::State& state)
{
    for (auto _ : state) {
        std::vector<TComPortInfo> ports = ListComPorts();
        benchmark::DoNotOptimize(ports.data());
    }
}
BENCHMARK(BM_ListComPorts);

#ifdef TARNBY_HAVE_QSERIALPORT
void BM_QSerialPortInfo(benchmark::State& state)
{
    for (auto _ : state) {
        QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        benchmark::DoNotOptimize(ports.size());
    }
}
BENCHMARK(BM_QSerialPortInfo);
#endif

} // namespace

BENCHMARK_MAIN();
