// Script document costs: opening (which reads every page's lines for the
// automatic crop), drawing and encoding one page at the interactive width, and
// a cache hit.
#include <benchmark/benchmark.h>

#include "bench_script.hpp"
#include "document/document_store.hpp"

namespace {

using tallowmark::DocumentStore;
using tallowmark::bench::scriptPdf;

void BM_Open(benchmark::State& state) {
    const auto path = scriptPdf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        DocumentStore store;
        benchmark::DoNotOptimize(store.open(path));
    }
}
BENCHMARK(BM_Open)->Arg(120)->Arg(500)->Unit(benchmark::kMillisecond);

void BM_RenderAndEncode(benchmark::State& state) {
    DocumentStore store;
    store.open(scriptPdf(120));
    int page = 0;
    for (auto _ : state) {
        state.PauseTiming();
        store.setCrop(std::nullopt);  // empties the cache; the crop comes out the same
        state.ResumeTiming();
        benchmark::DoNotOptimize(store.renderPage(page, static_cast<int>(state.range(0))));
        page = (page + 1) % 120;
    }
}
BENCHMARK(BM_RenderAndEncode)->Arg(1600)->Unit(benchmark::kMillisecond);

// The same as the window gets it: an uncompressed gray image.
void BM_RenderScreenImage(benchmark::State& state) {
    DocumentStore store;
    store.open(scriptPdf(120));
    int page = 0;
    for (auto _ : state) {
        state.PauseTiming();
        store.setCrop(std::nullopt);
        state.ResumeTiming();
        benchmark::DoNotOptimize(store.pageImage(page, static_cast<int>(state.range(0)), tallowmark::ImageEncoding::screen));
        page = (page + 1) % 120;
    }
}
BENCHMARK(BM_RenderScreenImage)->Arg(1600)->Unit(benchmark::kMillisecond);

void BM_CacheHit(benchmark::State& state) {
    DocumentStore store;
    store.open(scriptPdf(120));
    store.renderPage(3, 1600);
    for (auto _ : state) benchmark::DoNotOptimize(store.renderPage(3, 1600));
}
BENCHMARK(BM_CacheHit)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
