// What loading costs for the three JSON files the system reads whole: a marks
// file, the settings file and an export layout, each about 10 MB, beside a
// plain nlohmann parse of the same bytes. The loads check nesting and decode
// the records on top of the parse; they should stay close to it, never grow
// faster than the file.
#include <benchmark/benchmark.h>

#include <string>

#include "core/json_helpers.hpp"
#include "cues/cue_sidecar.hpp"
#include "export/export_layout.hpp"
#include "settings/settings.hpp"

namespace {

using namespace tallowmark;

constexpr std::size_t targetBytes = 10u << 20;

// How many samples of this size fill the target.
std::size_t itemsFor(std::size_t sampleBytes) { return targetBytes / std::max<std::size_t>(sampleBytes, 1) + 1; }

Cue benchCue(std::size_t n) {
    Cue cue;
    cue.id = "cue-" + std::to_string(n);
    cue.number = std::to_string(n);
    cue.label = "Valot sisaan " + std::to_string(n);
    cue.kind = n % 2 ? "LFX" : "SFX";
    cue.page = static_cast<std::int64_t>(n / 20);
    cue.y = static_cast<double>(n % 20) / 20;
    cue.snippet = "ja niin han lahti";
    return cue;
}

// Pretty printed as the engine writes it: cues, with a memo and a mark every
// tenth cue, as a long show's marks file has.
const std::string& marksFile() {
    static const std::string text = [] {
        auto sidecarOf = [](std::size_t cues) {
            CueSidecar sidecar;
            sidecar.documentName = "Hamlet.pdf";
            for (std::size_t n = 0; n < cues; ++n) {
                sidecar.cues.push_back(benchCue(n));
                if (n % 10 == 0) {
                    Memo memo;
                    memo.text = "muista";
                    sidecar.memos.push_back(memo);
                    Mark mark;
                    mark.kind = "hide";
                    sidecar.marks.push_back(mark);
                }
            }
            return *encodeSidecar(sidecar);
        };
        return sidecarOf(1000 * itemsFor(sidecarOf(1000).size()));
    }();
    return text;
}

// An operator's file that has grown a very long cue-type list.
const std::string& settingsFile() {
    static const std::string text = [] {
        auto settingsOf = [](std::size_t types) {
            Settings settings;
            settings.cueTypes.clear();
            for (std::size_t n = 0; n < types; ++n) settings.cueTypes.push_back({"T" + std::to_string(n % 100000), "#57b46a"});
            return dumpJson(encodeSettings(settings), 2);
        };
        return settingsOf(1000 * itemsFor(settingsOf(1000).size()));
    }();
    return text;
}

// Compact, as the page sends it: many pages, each with cue boxes, labels and
// marks.
const std::string& layoutFile() {
    static const std::string text = [] {
        auto page = [](std::size_t index) {
            Json cues = Json::array(), labels = Json::array(), marks = Json::array();
            for (int i = 0; i < 3; ++i) {
                cues.push_back({{"id", "c" + std::to_string(i)}, {"color", "#57b46a"}, {"x", 0.1}, {"w", 0.3},
                                {"dy", 0.2 + i * 0.1}, {"dh", 0.02}, {"padL_px", 2}, {"padR_px", 2},
                                {"outlineOffset_px", 1}});
                labels.push_back({{"id", "c" + std::to_string(i)}, {"text", "SFX " + std::to_string(i)},
                                  {"color", "#57b46a"}, {"x", 0.8}, {"w", 0.1}, {"dy", 0.2 + i * 0.1}, {"dh", 0.02},
                                  {"padL_px", 4}, {"rows", 1}});
            }
            marks.push_back({{"kind", "hide"}, {"x", 0.1}, {"w", 0.5}, {"dy", 0.5}, {"dh", 0.02}});
            return Json{{"index", index}, {"extra", 0.05}, {"pageWpx", 800}, {"pageHpx", 1130},
                        {"gaps", Json::array({{{"afterY", 0.4}, {"height", 0.05}}})}, {"cues", cues},
                        {"labels", labels}, {"marks", marks}};
        };
        auto layoutOf = [&](std::size_t count) {
            Json pages = Json::array();
            for (std::size_t n = 0; n < count; ++n) pages.push_back(page(n));
            const Json layout = {{"labelFontPx", 16}, {"labelLineH", 1.2}, {"labelPadX_px", 4},
                                 {"labelPadY_px", 2}, {"pages", pages}};
            return dumpJson(layout, -1);
        };
        return layoutOf(100 * itemsFor(layoutOf(100).size()));
    }();
    return text;
}

void plainParse(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        Json value = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
        if (value.is_discarded()) state.SkipWithError("the file did not parse");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

template <class Load>
void load(benchmark::State& state, const std::string& text, Load decode) {
    for (auto _ : state) {
        auto record = decode(text);
        if (!record) state.SkipWithError("the file did not load");
        benchmark::DoNotOptimize(record);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void BM_MarksFilePlainParse(benchmark::State& state) { plainParse(state, marksFile()); }
// The nesting check and parse alone, without building the records.
void BM_MarksFileCheckedParse(benchmark::State& state) {
    load(state, marksFile(), [](const std::string& text) { return parseJson(text); });
}
void BM_MarksFileLoad(benchmark::State& state) {
    load(state, marksFile(), [](const std::string& text) { return decodeSidecar(text); });
}

void BM_SettingsFilePlainParse(benchmark::State& state) { plainParse(state, settingsFile()); }
void BM_SettingsFileLoad(benchmark::State& state) {
    // As the store reads it at launch.
    load(state, settingsFile(), [](const std::string& text) -> std::optional<Settings> {
        auto json = parseJson(text);
        if (!json) return std::nullopt;
        return decodeSettings(*json);
    });
}

void BM_ExportLayoutPlainParse(benchmark::State& state) { plainParse(state, layoutFile()); }
void BM_ExportLayoutLoad(benchmark::State& state) {
    load(state, layoutFile(), [](const std::string& text) { return decodeLayout(text); });
}

BENCHMARK(BM_MarksFilePlainParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MarksFileCheckedParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MarksFileLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SettingsFilePlainParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SettingsFileLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportLayoutPlainParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportLayoutLoad)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::AddCustomContext("marks file bytes", std::to_string(marksFile().size()));
    benchmark::AddCustomContext("settings file bytes", std::to_string(settingsFile().size()));
    benchmark::AddCustomContext("layout file bytes", std::to_string(layoutFile().size()));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
