// What a big show costs the bridge before its first page: opening a 500-page
// script with N cues ("openDocumentPath", as a launch with a file does) and
// the page's first question for it ("currentDocument"), each answered as the
// JSON text the web view takes; and from the open call to the first page's
// image (the page asks for it as soon as the open answers), for 500 and 2,000
// pages, with the line collection of a long script still running behind it.
#include <benchmark/benchmark.h>

#include <glib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bench_script.hpp"
#include "bridge/native_bridge.hpp"
#include "core/main_queue.hpp"

namespace {

using namespace tallowmark;

constexpr const char* pageURL = "file:///opt/tm/web/index_inlined.html";
constexpr int pages = 500;

std::filesystem::path showWithCues(int cues, int pageCount = pages) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("tallowmark-bridge-open-" + std::to_string(cues) + "-" + std::to_string(pageCount));
    std::filesystem::create_directories(dir);
    const auto pdf = dir / "Show.pdf";
    std::filesystem::copy_file(bench::scriptPdf(pageCount), pdf, std::filesystem::copy_options::overwrite_existing);
    CueSidecar sidecar;
    for (int n = 0; n < cues; ++n) {
        Cue cue;
        cue.id = "C" + std::to_string(100000 + n);
        cue.number = std::to_string(n + 1);
        cue.label = "Lights shift to the window " + std::to_string(n + 1);
        cue.snippet = "and the lantern goes out over the water";
        cue.page = n * pageCount / cues;
        cue.y = 0.1 + 0.8 * (n % 10) / 10.0;
        sidecar.cues.push_back(cue);
    }
    std::ofstream(sidecarPathFor(pdf)) << *encodeSidecar(sidecar);
    return pdf;
}

struct Bridge {
    std::shared_ptr<NativeBridge> bridge;
    Bridge() {
        auto settings = std::make_shared<SettingsStore>(true);
        Settings s;
        s.oscEnabled = false;
        settings->setSettings(s);
        bridge = NativeBridge::create(settings, std::make_shared<NoUpdates>("20260101-1"));
        bridge->setPageGuard(std::make_shared<PageGuard>(pageURL));
    }
    std::size_t call(const char* name, Json args) {
        std::size_t bytes = 0;
        bridge->receive({name, std::move(args), std::string(pageURL), true},
                        ReplyHandle::encoded([&](const std::string& text, const std::optional<std::string>&) {
                            bytes = text.size();
                        }));
        drainMainQueue();
        return bytes;
    }
};

void BM_OpenDocumentPath(benchmark::State& state) {
    const auto pdf = showWithCues(static_cast<int>(state.range(0)));
    std::size_t bytes = 0;
    for (auto _ : state) {
        Bridge b;
        bytes = b.call("openDocumentPath", Json::array({pdf.string()}));
        state.PauseTiming();
        b.bridge.reset();
        drainMainQueue();
        state.ResumeTiming();
    }
    state.counters["replyKB"] = static_cast<double>(bytes) / 1024.0;
}
BENCHMARK(BM_OpenDocumentPath)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_CurrentDocument(benchmark::State& state) {
    const auto pdf = showWithCues(static_cast<int>(state.range(0)));
    Bridge b;
    b.call("openDocumentPath", Json::array({pdf.string()}));
    std::size_t bytes = 0;
    for (auto _ : state) bytes = b.call("currentDocument", Json::array());
    state.counters["replyKB"] = static_cast<double>(bytes) / 1024.0;
}
BENCHMARK(BM_CurrentDocument)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The open call until the first page's PNG is back on the main thread, as the
// page sees it: "openDocumentPath", then "renderPage" 0 at the default width.
void BM_OpenToFirstPage(benchmark::State& state) {
    const auto pdf = showWithCues(1000, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        Bridge b;
        b.call("openDocumentPath", Json::array({pdf.string()}));
        bool answered = false, drawn = false;
        b.bridge->receive({"renderPage", Json::array({0}), std::string(pageURL), true},
                          ReplyHandle::encoded([&](const std::string& text, const std::optional<std::string>&) {
                              answered = true;
                              drawn = text.find("\"png\"") != std::string::npos;
                          }));
        while (!answered) g_main_context_iteration(nullptr, TRUE);
        if (!drawn) state.SkipWithError("no first page");
        state.PauseTiming();
        b.bridge.reset();  // a collection still running is cancelled here, outside the timing
        drainMainQueue();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenToFirstPage)->Arg(500)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

}  // namespace

BENCHMARK_MAIN();
