// What a GO costs on the main thread: firing, moving standby and writing the
// run position to disk (atomically, with fsync), on a script of 300 cues.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cues/cue_engine.hpp"

namespace {

using tallowmark::Cue;
using tallowmark::CueEngine;
using tallowmark::CueSidecar;

CueSidecar show(int cues) {
    CueSidecar sidecar;
    for (int n = 1; n <= cues; ++n) {
        Cue cue;
        cue.number = std::to_string(n);
        cue.page = n / 3;
        cue.y = 0.1 * (n % 3);
        sidecar.cues.push_back(cue);
    }
    return sidecar;
}

void BM_GoInMemory(benchmark::State& state) {
    CueEngine engine;
    engine.loadFromMemoryForTesting(show(300));
    for (auto _ : state) {
        if (!engine.go("bench")) engine.reset("bench");
    }
}
BENCHMARK(BM_GoInMemory);

void BM_GoWithRunFile(benchmark::State& state) {
    char pattern[] = "/tmp/tallowmark-bench.XXXXXX";
    const std::filesystem::path dir = mkdtemp(pattern);
    {
        CueEngine writer;
        writer.loadSidecar(dir / "Show.pdf");
        writer.upsert(show(300).cues);
    }
    CueEngine engine;
    engine.loadSidecar(dir / "Show.pdf");
    for (auto _ : state) {
        if (!engine.go("bench")) engine.reset("bench");
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_GoWithRunFile)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_FireByNumber(benchmark::State& state) {
    CueEngine engine;
    engine.loadFromMemoryForTesting(show(300));
    for (auto _ : state) benchmark::DoNotOptimize(engine.fireCue(" 250.0 ", "bench"));
}
BENCHMARK(BM_FireByNumber);

}  // namespace

BENCHMARK_MAIN();
