// Searching scripts. The words and names an operator looks for occur many
// times a page on most pages of the text-dense script, so a search of them ends
// at the bridge's limit of 300 hits: the first search after opening, the same
// search repeated, and the store's resident memory after ten of them, on 500
// and 2,000 pages. Times are process CPU, median over the queries. The older
// cases search a 120-page script for a phrase that occurs once, on its last page.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "bench_script.hpp"
#include "dense_script.hpp"
#include "document/document_store.hpp"

namespace {

using tallowmark::DocumentStore;
using tallowmark::bench::denseScriptPdf;
using tallowmark::bench::scriptPdf;

constexpr int bridgeLimit = 300;
// The two names and eight words of the dense script's vocabulary.
const std::vector<std::string> commonQueries = {"MARGARET", "Thomas", "storm",   "harbour", "lanterns",
                                                "candle",   "window", "silence", "sailors", "letter"};
// Pairs of words that meet about once in two pages: a search of one reads
// hundreds of pages, so these show what searched pages leave behind.
const std::vector<std::string> deepQueries = {"storm breaks", "candle light", "door opens",    "music rises",
                                              "stage left",   "the letter",   "over harbour",  "deck quietly",
                                              "falls on",     "window while"};
std::string selfPath;

double cpuMilliseconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

// CPU of one search; none when it did not stop at the limit.
std::optional<double> timedSearch(DocumentStore& store, const std::string& query) {
    const double start = cpuMilliseconds();
    const auto hits = store.search(query, bridgeLimit);
    const double spent = cpuMilliseconds() - start;
    if (hits.size() != static_cast<std::size_t>(bridgeLimit)) return std::nullopt;
    return spent;
}

// Each query searched once in a store opened for it alone. The second
// argument 0 has the open keep no words, so every page is laid out again.
void BM_FirstCommonSearch(benchmark::State& state) {
    const auto path = denseScriptPdf(static_cast<int>(state.range(0)));
    std::vector<double> spent;
    for (auto _ : state) {
        for (const std::string& query : commonQueries) {
            DocumentStore store;
            const std::size_t budget = tallowmark::LayoutPdf::defaultWordsBudget;
            if (state.range(1) == 0) store.setWordsBudget(0);
            if (!store.open(path)) return state.SkipWithError("open failed");
            store.setWordsBudget(budget);
            const auto ms = timedSearch(store, query);
            if (!ms) return state.SkipWithError(("fewer than 300 hits: " + query).c_str());
            spent.push_back(*ms);
        }
    }
    state.counters["first_cpu_ms"] = median(spent);
}
BENCHMARK(BM_FirstCommonSearch)
    ->Args({500, 1})
    ->Args({500, 0})
    ->Args({2000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// Every query searched once, then each again five times.
void BM_RepeatedCommonSearch(benchmark::State& state) {
    DocumentStore store;
    if (!store.open(denseScriptPdf(static_cast<int>(state.range(0))))) return state.SkipWithError("open failed");
    for (const std::string& query : commonQueries) (void)store.search(query, bridgeLimit);
    std::vector<double> perQuery;
    for (auto _ : state) {
        for (const std::string& query : commonQueries) {
            std::vector<double> spent;
            for (int i = 0; i < 5; ++i) {
                const auto ms = timedSearch(store, query);
                if (!ms) return state.SkipWithError(("fewer than 300 hits: " + query).c_str());
                spent.push_back(*ms);
            }
            perQuery.push_back(median(spent));
        }
    }
    state.counters["repeated_cpu_ms"] = median(perQuery);
}
BENCHMARK(BM_RepeatedCommonSearch)->Arg(500)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(1);

// Resident memory after the open, and what the ten common searches and then
// ten deep ones add to it, in a fresh process so nothing the other benchmarks
// left behind is counted.
void BM_ResidentGrowthAfterTenSearches(benchmark::State& state) {
    const std::string path = denseScriptPdf(static_cast<int>(state.range(0))).string();
    double open = 0, growth = 0, deepGrowth = 0;
    for (auto _ : state) {
        const gchar* argv[] = {selfPath.c_str(), "--resident-growth", path.c_str(), nullptr};
        gchar* out = nullptr;
        gint status = 0;
        if (!g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &out,
                          nullptr, &status, nullptr) ||
            !g_spawn_check_wait_status(status, nullptr))
            state.SkipWithError("child failed");
        if (!out || std::sscanf(out, "%lf %lf %lf", &open, &growth, &deepGrowth) != 3)
            state.SkipWithError("no figures from the child");
        g_free(out);
    }
    state.counters["rss_open_mb"] = open;
    state.counters["rss_growth_mb"] = growth;
    state.counters["rss_deep_growth_mb"] = deepGrowth;
}
BENCHMARK(BM_ResidentGrowthAfterTenSearches)->Arg(500)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(1);

int residentGrowth(const char* path) {
    DocumentStore store;
    if (!store.open(path)) return 1;
    const double open = residentMegabytes();
    for (const std::string& query : commonQueries)
        if (store.search(query, bridgeLimit).size() != static_cast<std::size_t>(bridgeLimit)) return 1;
    const double common = residentMegabytes();
    for (const std::string& query : deepQueries)
        if (store.search(query, bridgeLimit).empty()) return 1;
    std::printf("%.1f %.1f %.1f\n", open, common - open, residentMegabytes() - common);
    return 0;
}

constexpr const char* lastPageOnly = "of page 120:";

void BM_SearchFirstAfterOpen(benchmark::State& state) {
    const auto path = scriptPdf(120);
    for (auto _ : state) {
        state.PauseTiming();
        DocumentStore store;
        store.open(path);
        state.ResumeTiming();
        benchmark::DoNotOptimize(store.search(lastPageOnly, bridgeLimit));
    }
}
BENCHMARK(BM_SearchFirstAfterOpen)->Unit(benchmark::kMillisecond);

void BM_SearchRepeated(benchmark::State& state) {
    DocumentStore store;
    store.open(scriptPdf(120));
    (void)store.search(lastPageOnly, bridgeLimit);
    for (auto _ : state) benchmark::DoNotOptimize(store.search(lastPageOnly, bridgeLimit));
}
BENCHMARK(BM_SearchRepeated)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--resident-growth") == 0) return residentGrowth(argv[2]);
    selfPath = argv[0];
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
