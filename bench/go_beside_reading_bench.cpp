// GO through the bridge while scanned pages are read, beside GO with nothing
// read: the reading runs at idle priority and must not slow the show. The
// reading opens a scanned page again and again, each time with an empty
// cache, so recognition runs for the whole measurement.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bridge/native_bridge.hpp"
#include "core/main_queue.hpp"
#include "document/document_store.hpp"
#include "support/engine_access.hpp"
#include "support/scan_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace {

using namespace tallowmark;

constexpr const char* pageURL = "file:///opt/tm/web/index_inlined.html";

class QuietView : public EventTransport {
public:
    void deliverEvents(const std::string&, std::function<void()> taken) override { postToMain(std::move(taken)); }
};

// Keeps recognition busy until told to stop; counts the pages it read.
class Reading {
public:
    explicit Reading(const std::filesystem::path& scan) {
        thread_ = std::thread([this, scan] {
            for (int round = 0; !stop_; ++round) {
                DocumentStore store;
                DocumentStore::RecognitionOptions options;
                options.enabled = true;
                options.languages = "eng";
                options.cacheRoot = dir_ / std::to_string(round);
                store.setRecognition(options);
                if (!store.open(scan)) return;
                store.waitForScans();
                pages_ += store.recognitionsRun();
            }
        });
    }
    ~Reading() {
        stop_ = true;
        thread_.join();
    }
    std::int64_t pages() const { return pages_; }

private:
    testing::TempDir dir_;
    std::atomic<bool> stop_{false};
    std::atomic<std::int64_t> pages_{0};
    std::thread thread_;
};

const std::filesystem::path& scannedPage() {
    static testing::TempDir dir;
    static const std::filesystem::path scan = [] {
        testing::writePdf(dir / "play.pdf", {testing::playPage(595, 842)});
        testing::Scan made{dir / "scan.pdf", 300, 1, 0.2};
        testing::scanPdf(dir / "play.pdf", made);
        return made.pdf;
    }();
    return scan;
}

void BM_GoBesideReading(benchmark::State& state) {
    auto settings = std::make_shared<SettingsStore>(true);
    Settings s;
    s.oscEnabled = false;
    settings->setSettings(s);
    auto bridge = NativeBridge::create(settings, std::make_shared<NoUpdates>("20260101-1"));
    bridge->setPageGuard(std::make_shared<PageGuard>(pageURL));
    bridge->setWebView(std::make_shared<QuietView>());
    bridge->setConfidenceWebView(std::make_shared<QuietView>());
    CueSidecar show;
    for (int n = 1; n <= 1000; ++n) {
        Cue cue;
        cue.number = std::to_string(n);
        cue.label = "Lights fade to the window " + std::to_string(n);
        cue.page = n / 4;
        show.cues.push_back(cue);
    }
    tallowmark::testing::EngineAccess::loadFromMemory(bridge->engine(), show);
    drainMainQueue();

    std::unique_ptr<Reading> reading;
    if (state.range(0)) reading = std::make_unique<Reading>(scannedPage());
    int calls = 0;
    std::vector<double> micros;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        bool answered = false;
        const char* name = (++calls % 1000 == 0) ? "reset" : "go";
        bridge->receive({name, Json::array(), std::string(pageURL), true},
                        ReplyHandle::encoded([&](const std::string&, const std::optional<std::string>&) { answered = true; }));
        drainMainQueue();
        if (!answered) state.SkipWithError("the call was not answered");
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        // A GO every few milliseconds would be a fast show; this leaves the reading the time between.
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        state.ResumeTiming();
    }
    // The mean hides what a show feels: the median and the slowest GOs.
    std::sort(micros.begin(), micros.end());
    const auto at = [&](double share) { return micros[static_cast<std::size_t>(share * (micros.size() - 1))]; };
    state.counters["medianUs"] = at(0.5);
    state.counters["p99Us"] = at(0.99);
    state.counters["maxUs"] = micros.back();
    if (reading) state.counters["pagesRead"] = static_cast<double>(reading->pages());
}
BENCHMARK(BM_GoBesideReading)->Arg(0)->Arg(1)->ArgName("reading")->Unit(benchmark::kMicrosecond)->Iterations(3000);

}  // namespace

BENCHMARK_MAIN();
