// Searching a 120-page script: the first search after opening and a repeated
// one. Both scan every page (the query occurs once, on the last page), so the
// difference is what poppler's kept text pages save.
#include <benchmark/benchmark.h>

#include "bench_script.hpp"
#include "document/document_store.hpp"

namespace {

using tallowmark::DocumentStore;
using tallowmark::bench::scriptPdf;

constexpr const char* lastPageOnly = "of page 120:";

void BM_SearchFirstAfterOpen(benchmark::State& state) {
    const auto path = scriptPdf(120);
    for (auto _ : state) {
        state.PauseTiming();
        DocumentStore store;
        store.open(path);
        state.ResumeTiming();
        benchmark::DoNotOptimize(store.search(lastPageOnly, 300));
    }
}
BENCHMARK(BM_SearchFirstAfterOpen)->Unit(benchmark::kMillisecond);

void BM_SearchRepeated(benchmark::State& state) {
    DocumentStore store;
    store.open(scriptPdf(120));
    (void)store.search(lastPageOnly, 300);
    for (auto _ : state) benchmark::DoNotOptimize(store.search(lastPageOnly, 300));
}
BENCHMARK(BM_SearchRepeated)->Unit(benchmark::kMillisecond);

// A common word: the limit of 300 hits ends the scan after a few pages.
void BM_SearchCommonWordRepeated(benchmark::State& state) {
    DocumentStore store;
    store.open(scriptPdf(120));
    for (auto _ : state) benchmark::DoNotOptimize(store.search("towers", 300));
}
BENCHMARK(BM_SearchCommonWordRepeated)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
