// What opening the Show Report sheet costs after a long run: a six-hour day of
// 20,000 GOs read back from the report file and made into performances (the
// sheet's call does this off the main thread, then sends at most 2,000 cues).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cues/show_report.hpp"

namespace {

using tallowmark::ReportEntry;
using tallowmark::ShowReportLog;

std::filesystem::path longDay(int gos) {
    char pattern[] = "/tmp/tallowmark-bench.XXXXXX";
    const std::filesystem::path file = std::filesystem::path(mkdtemp(pattern)) / "day.report";
    ShowReportLog log(file);
    const std::int64_t sixHoursMs = 6 * 3600 * 1000;
    for (int i = 0; i < gos; ++i) {
        ReportEntry e;
        e.wallMs = 1'765'000'000'000 + sixHoursMs * i / gos;
        e.monoUs = (sixHoursMs * i / gos) * 1000;
        e.launch = "bench";
        e.source = i % 3 ? "key" : "osc 192.168.1.20";
        e.number = std::to_string(i % 1000 + 1);
        e.label = "Lights fade to the blue wash for the storm scene, cue " + e.number;
        e.type = "LX";
        // A RESET between the performances of the day.
        if (i % 5000 == 0) {
            ReportEntry reset = e;
            reset.kind = ReportEntry::Kind::reset;
            log.append(reset);
        }
        log.append(e);
    }
    log.flush(std::chrono::seconds(60));
    return file;
}

void BM_ReportSheetAfterALongDay(benchmark::State& state) {
    static const std::filesystem::path file = longDay(20'000);
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(file));
    for (auto _ : state) {
        const auto entries = ShowReportLog::read(file);
        benchmark::DoNotOptimize(tallowmark::performancesOf(entries, 8));
    }
}
BENCHMARK(BM_ReportSheetAfterALongDay)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
