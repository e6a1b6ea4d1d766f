// Opening a 500-page text-dense script: the time to open with every page's
// lines (at once, and as the application opens it, with the lines behind
// the open), the resident memory left after it, the first and a repeated search of
// the whole script and one page drawn at 1600 px with its PNG. poppler's own
// word-box dump (pdftotext -bbox-layout) of the same file is timed alongside,
// in the same run, as the yardstick.
#include <benchmark/benchmark.h>
#include <glib.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <fstream>
#include <string>

#include "dense_script.hpp"
#include "document/document_store.hpp"

namespace {

using tallowmark::DocumentStore;
using tallowmark::bench::denseScriptPdf;
using tallowmark::bench::lastPageMarker;

constexpr int pages = 500;
std::string selfPath;

double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

bool runChild(const std::vector<std::string>& args, std::string* out = nullptr) {
    std::vector<gchar*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<gchar*>(a.c_str()));
    argv.push_back(nullptr);
    gchar* captured = nullptr;
    gint status = 0;
    const bool ran = g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                                  out ? &captured : nullptr, nullptr, &status, nullptr) &&
                     g_spawn_check_wait_status(status, nullptr);
    if (out && captured) *out = captured;
    g_free(captured);
    return ran;
}

void BM_PdftotextBboxLayout(benchmark::State& state) {
    const std::string path = denseScriptPdf(pages).string();
    for (auto _ : state)
        if (!runChild({"pdftotext", "-bbox-layout", path, "/dev/null"})) state.SkipWithError("pdftotext failed");
}
BENCHMARK(BM_PdftotextBboxLayout)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

void BM_OpenWithAllLines(benchmark::State& state) {
    const auto path = denseScriptPdf(pages);
    for (auto _ : state) {
        DocumentStore store;
        if (!store.open(path) || !store.allPageLines()) state.SkipWithError("open failed");
        state.PauseTiming();
        store.close();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenWithAllLines)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

// As the application opens a script: the open answers at once (timed as
// "open_ms") and the lines follow on the store's own lower-priority threads,
// timed until the last page is in and the crop is known.
void BM_OpenUntilLinesCollected(benchmark::State& state) {
    const auto path = denseScriptPdf(pages);
    double openMs = 0;
    for (auto _ : state) {
        DocumentStore store;
        std::mutex mutex;
        std::condition_variable collected;
        bool done = false;
        store.setOnLinesCollected([&](std::int64_t) {
            const std::scoped_lock lock(mutex);
            done = true;
            collected.notify_all();
        });
        const auto start = std::chrono::steady_clock::now();
        if (!store.openScript(path, {}, DocumentStore::Lines::inBackground).info) state.SkipWithError("open failed");
        openMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::unique_lock lock(mutex);
        collected.wait(lock, [&] { return done; });
        lock.unlock();
        if (!store.allPageLines()) state.SkipWithError("no crop");
        state.PauseTiming();
        store.close();
        state.ResumeTiming();
    }
    state.counters["open_ms"] = openMs;
}
BENCHMARK(BM_OpenUntilLinesCollected)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

// Resident memory after the open, measured in a fresh process so nothing the
// other benchmarks left behind is counted.
void BM_ResidentAfterOpen(benchmark::State& state) {
    const std::string path = denseScriptPdf(pages).string();
    double megabytes = 0;
    for (auto _ : state) {
        std::string out;
        if (!runChild({selfPath, "--resident-after-open", path}, &out)) state.SkipWithError("child failed");
        megabytes = std::atof(out.c_str());
    }
    state.counters["rss_mb"] = megabytes;
}
BENCHMARK(BM_ResidentAfterOpen)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

void BM_SearchFirstAfterOpen(benchmark::State& state) {
    const auto path = denseScriptPdf(pages);
    const std::string query = lastPageMarker(pages);
    for (auto _ : state) {
        state.PauseTiming();
        DocumentStore store;
        store.open(path);
        state.ResumeTiming();
        const auto hits = store.search(query, 300);
        if (hits.size() != 1) {
            state.SkipWithError("marker not found once");
            break;
        }
        state.PauseTiming();
        store.close();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SearchFirstAfterOpen)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

void BM_SearchRepeated(benchmark::State& state) {
    DocumentStore store;
    store.open(denseScriptPdf(pages));
    const std::string query = lastPageMarker(pages);
    (void)store.search(query, 300);
    for (auto _ : state) benchmark::DoNotOptimize(store.search(query, 300));
}
BENCHMARK(BM_SearchRepeated)->Unit(benchmark::kMillisecond)->Repetitions(5);

// A fresh width each time, so the cache never answers.
void BM_RenderPage1600(benchmark::State& state) {
    DocumentStore store;
    store.open(denseScriptPdf(pages));
    int width = 1600;
    for (auto _ : state) {
        if (!store.renderPage(pages / 2, width)) state.SkipWithError("render failed");
        width = width == 1600 ? 1601 : 1600;
        state.PauseTiming();
        store.setDropPageNumbers(width == 1601);  // empties the image cache
        state.ResumeTiming();
    }
}
BENCHMARK(BM_RenderPage1600)->Unit(benchmark::kMillisecond)->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--resident-after-open") == 0) {
        DocumentStore store;
        if (!store.open(argv[2]) || !store.allPageLines()) return 1;
        std::printf("%.1f\n", residentMegabytes());
        return 0;
    }
    selfPath = argv[0];
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
