// What a GO costs on the main thread: firing, moving standby and handing the
// run position to the writer thread, on a script of 300 cues; how soon the
// disk holds the last GO; what an edit of a 3,000-cue script costs the main thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cues/cue_engine.hpp"
#include "support/engine_access.hpp"

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
    tallowmark::testing::EngineAccess::loadFromMemory(engine, show(300));
    for (auto _ : state) {
        if (!engine.go("bench")) engine.reset("bench");
    }
}
BENCHMARK(BM_GoInMemory);

std::filesystem::path scriptFolder(int cues) {
    char pattern[] = "/tmp/tallowmark-bench.XXXXXX";
    const std::filesystem::path dir = mkdtemp(pattern);
    CueEngine writer;
    writer.loadSidecar(dir / "Show.pdf");
    writer.upsert(show(cues).cues);
    return dir;  // the writer's destructor waits for the marks file
}

void BM_GoWithRunFile(benchmark::State& state) {
    const std::filesystem::path dir = scriptFolder(300);
    CueEngine engine;
    engine.loadSidecar(dir / "Show.pdf");
    for (auto _ : state) {
        if (!engine.go("bench")) engine.reset("bench");
    }
    engine.flushWrites();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_GoWithRunFile)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The operator's view: from go() to the state callback, 1,000 GOs at a show's
// pace (a GO every 2 ms, so the writer is always busy with the one before),
// then how long after the last GO the run file on disk holds it.
void BM_GoToStateCallbackAndDisk(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const std::filesystem::path dir = scriptFolder(1200);
    std::vector<double> toCallback;
    std::vector<double> toDisk;
    for (auto _ : state) {
        CueEngine engine;
        engine.loadSidecar(dir / "Show.pdf");
        Clock::time_point called;
        engine.onStateChange = [&] { called = Clock::now(); };
        for (int i = 0; i < 1000; ++i) {
            const auto start = Clock::now();
            engine.go("bench");
            toCallback.push_back(std::chrono::duration<double, std::micro>(called - start).count());
            // The main loop idles between GOs, as it does between a show's commands.
            std::this_thread::sleep_until(start + std::chrono::milliseconds(2));
        }
        const auto last = Clock::now();
        engine.flushWrites();
        toDisk.push_back(std::chrono::duration<double, std::milli>(Clock::now() - last).count());
        engine.reset("bench");
    }
    const auto at = [](std::vector<double> v, double q) {
        std::sort(v.begin(), v.end());
        return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
    };
    state.counters["callback_median_us"] = at(toCallback, 0.5);
    state.counters["callback_p99_us"] = at(toCallback, 0.99);
    state.counters["callback_max_us"] = at(toCallback, 1.0);
    state.counters["disk_after_last_go_median_ms"] = at(toDisk, 0.5);
    state.counters["disk_after_last_go_max_ms"] = at(toDisk, 1.0);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_GoToStateCallbackAndDisk)->Unit(benchmark::kMillisecond)->Iterations(5);

// An edit of a 3,000-cue script: what the main thread pays (encoding and the
// hand-over); the rotating save itself runs on the writer, outside the timing.
void BM_EditLargeScript(benchmark::State& state) {
    const std::filesystem::path dir = scriptFolder(3000);
    CueEngine engine;
    engine.loadSidecar(dir / "Show.pdf");
    Cue cue = engine.sidecar().cues.front();
    for (auto _ : state) {
        cue.label += "x";
        engine.upsert(cue);
        state.PauseTiming();
        engine.flushWrites();
        state.ResumeTiming();
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_EditLargeScript)->Unit(benchmark::kMillisecond)->Iterations(30);

void BM_FireByNumber(benchmark::State& state) {
    CueEngine engine;
    tallowmark::testing::EngineAccess::loadFromMemory(engine, show(300));
    for (auto _ : state) benchmark::DoNotOptimize(engine.fireCue(" 250.0 ", "bench"));
}
BENCHMARK(BM_FireByNumber);

}  // namespace

BENCHMARK_MAIN();
