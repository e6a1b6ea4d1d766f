// What a GO through the bridge costs on the main thread with a long show: the
// call, its reply and the event batches for the main view and the confidence
// monitor, built and delivered. The reply is taken as JSON text, as the web
// view takes it.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bridge/native_bridge.hpp"
#include "core/main_queue.hpp"
#include "support/engine_access.hpp"

namespace {

using namespace tallowmark;

constexpr const char* pageURL = "file:///opt/tm/web/index_inlined.html";

class CountingView : public EventTransport {
public:
    void deliverEvents(const std::string& batch, std::function<void()> taken) override {
        ++scripts;
        bytes += batch.size();
        postToMain(std::move(taken));
    }
    std::size_t scripts = 0;
    std::size_t bytes = 0;
};

CueSidecar show(int cues) {
    CueSidecar sidecar;
    for (int n = 1; n <= cues; ++n) {
        Cue cue;
        cue.number = std::to_string(n);
        cue.label = "Lights fade to the window " + std::to_string(n);
        cue.snippet = "and the lantern goes out over the water";
        cue.page = n / 4;
        cue.y = 0.2 * (n % 4);
        sidecar.cues.push_back(cue);
    }
    return sidecar;
}

void BM_BridgeGo(benchmark::State& state) {
    auto settings = std::make_shared<SettingsStore>(true);
    Settings s;
    s.oscEnabled = false;
    // The state sent back to a desk on every GO, to a port nobody reads.
    if (state.range(1)) s.oscFeedback = {{"127.0.0.1", 9}};
    settings->setSettings(s);
    auto bridge = NativeBridge::create(settings, std::make_shared<NoUpdates>("20260101-1"));
    bridge->setPageGuard(std::make_shared<PageGuard>(pageURL));
    auto main = std::make_shared<CountingView>();
    auto monitor = std::make_shared<CountingView>();
    bridge->setWebView(main);
    bridge->setConfidenceWebView(monitor);
    tallowmark::testing::EngineAccess::loadFromMemory(bridge->engine(), show(static_cast<int>(state.range(0))));
    drainMainQueue();

    int calls = 0;
    for (auto _ : state) {
        const std::size_t before = main->scripts;
        bool answered = false;
        // Fire through the whole show and start again, as a long run does.
        const char* name = (++calls % state.range(0) == 0) ? "reset" : "go";
        bridge->receive({name, Json::array(), std::string(pageURL), true},
                        ReplyHandle::encoded([&](const std::string&, const std::optional<std::string>&) { answered = true; }));
        drainMainQueue();
        if (!answered || main->scripts == before || monitor->scripts != main->scripts)
            state.SkipWithError("the call or its events did not arrive");
    }
    state.counters["eventKB"] = static_cast<double>(main->bytes) / static_cast<double>(main->scripts) / 1024.0;
}
// Cues, and whether feedback goes to a desk.
BENCHMARK(BM_BridgeGo)
    ->Args({500, 0})
    ->Args({1000, 0})
    ->Args({5000, 0})
    ->Args({5000, 1})
    ->ArgNames({"cues", "feedback"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
