// What loading costs for the three JSON files the system reads whole: a marks
// file, the settings file and an export layout, each about 10 MB, beside a
// plain nlohmann parse of the same bytes. The marks and settings loads decode
// the records straight from the parser's events (decodeFile), the layout load
// on top of a parse; they should stay close to the plain parse, never grow
// faster than the file. (The settings file's long list is cut unread.)
//
// Then opening a show as the engine does it (read, decode, script order, run
// file) for 10,000 and 50,000 cues, and a 1,000,000-cue file that must be
// refused quickly without memory growing with it; and a settings file that
// grew 500,000 recent scripts. peak_rise_MB is how far the resident set rose
// above where it stood before the benchmark.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <system_error>

#include "core/json_helpers.hpp"
#include "cues/cue_engine.hpp"
#include "cues/cue_sidecar.hpp"
#include "export/export_layout.hpp"
#include "settings/settings.hpp"
#include "settings/settings_store.hpp"

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
    load(state, settingsFile(), [](const std::string& text) {
        FileNotes notes;
        return decodeSettingsFile(text, notes);
    });
}

void BM_ExportLayoutPlainParse(benchmark::State& state) { plainParse(state, layoutFile()); }
void BM_ExportLayoutLoad(benchmark::State& state) {
    load(state, layoutFile(), [](const std::string& text) { return decodeLayout(text); });
}

// --- whole opens from disk ---

namespace fs = std::filesystem;

// A folder for the files of these benchmarks, removed at exit.
class BenchFolder {
public:
    BenchFolder() {
        char pattern[] = "/tmp/tallowmark-json-bench.XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~BenchFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

const fs::path& benchFolder() {
    static const BenchFolder folder;
    return folder.path();
}

// Written out by hand, straight to the file: building a million records
// through the encoder would itself take gigabytes. Up to 50,000 cues in the
// engine's pretty form with a mark for every third cue, as a long show has;
// past that as short as a cue can be written, so that a million cues stay
// under the read limit as in the file a tester made (35 MB).
void writeMarks(const fs::path& path, std::size_t cues) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const bool full = cues <= 50000;
    char buffer[640];
    out << "{\n  \"cues\": [";
    for (std::size_t n = 0; n < cues; ++n) {
        const double y = static_cast<double>(19 - n % 20) / 20;
        if (full) {
            std::snprintf(buffer, sizeof buffer,
                          "%s\n    {\n      \"color\": \"\",\n      \"h\": 0.016,\n      \"id\": \"cue-%zu\",\n"
                          "      \"insertID\": \"\",\n      \"kind\": \"%s\",\n      \"label\": \"Valot sisaan %zu\",\n"
                          "      \"labelX\": 0.0,\n      \"note\": \"\",\n      \"number\": \"%zu\",\n"
                          "      \"padL\": -1.0,\n      \"padR\": -1.0,\n      \"page\": %zu,\n"
                          "      \"snippet\": \"ja niin han lahti\",\n      \"w\": 0.18,\n      \"x\": 0.5,\n"
                          "      \"y\": %.2f\n    }",
                          n ? "," : "", n, n % 2 ? "LFX" : "SFX", n, n, n / 20, y);
        } else {
            std::snprintf(buffer, sizeof buffer, "%s{\"number\":\"%zu\",\"page\":%zu}", n ? "," : "", n, n / 20);
        }
        out << buffer;
    }
    out << "\n  ],\n  \"documentName\": \"Hamlet.pdf\",\n  \"marks\": [";
    const std::size_t marks = full ? cues / 3 : 0;
    for (std::size_t n = 0; n < marks; ++n) {
        std::snprintf(buffer, sizeof buffer,
                      "%s\n    {\n      \"color\": \"#445566\",\n      \"group\": \"\",\n      \"h\": 0.02,\n"
                      "      \"id\": \"mark-%zu\",\n      \"kind\": \"highlight\",\n      \"page\": %zu,\n"
                      "      \"text\": \"\",\n      \"w\": 0.4,\n      \"x\": 0.1,\n      \"y\": 0.3\n    }",
                      n ? "," : "", n, n / 7);
        out << buffer;
    }
    out << "\n  ],\n  \"version\": 1\n}\n";
}

// The script Show<n>.pdf whose marks file holds n cues.
fs::path showWithCues(std::size_t cues) {
    static std::map<std::size_t, fs::path> made;
    auto [it, fresh] = made.try_emplace(cues, benchFolder() / ("Show" + std::to_string(cues) + ".pdf"));
    if (fresh) writeMarks(sidecarPathFor(it->second), cues);
    return it->second;
}

// The process's resident set and its high-water mark, in MB, from /proc.
double statusMB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(field)) return std::strtod(line.c_str() + std::char_traits<char>::length(field), nullptr) / 1024;
    }
    return 0;
}

// Starts a fresh high-water mark ("5" resets it, Linux 4.0 and later).
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

template <class Body>
void measuredOpen(benchmark::State& state, Body body) {
    ::malloc_trim(0);  // what earlier benchmarks freed goes back first
    const double before = statusMB("VmRSS:");
    resetPeak();
    for (auto _ : state) body();
    state.counters["peak_rise_MB"] = statusMB("VmHWM:") - before;
}

void BM_OpenShow(benchmark::State& state) {
    const fs::path pdf = showWithCues(static_cast<std::size_t>(state.range(0)));
    state.counters["file_MB"] = static_cast<double>(fs::file_size(sidecarPathFor(pdf))) / (1 << 20);
    CueEngine engine;
    std::size_t cues = 0;
    measuredOpen(state, [&] {
        engine.loadSidecar(pdf);
        cues = engine.ordered().size();
    });
    state.counters["cues_loaded"] = static_cast<double>(cues);
}

// 500,000 recent scripts and 200,000 cue types, under the store's byte limit.
fs::path overgrownSettings() {
    static const fs::path path = [] {
        const fs::path file = benchFolder() / "settings.json";
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << "{\"recentDocuments\":[";
        for (int n = 0; n < 500000; ++n) out << (n ? ",\"/s/" : "\"/s/") << n << ".pdf\"";
        out << "],\"cueTypes\":[";
        for (int n = 0; n < 200000; ++n) out << (n ? "," : "") << "{\"name\":\"T" << n << "\",\"color\":\"#57b46a\"}";
        out << "],\"oscPort\":9000}";
        return file;
    }();
    return path;
}

void BM_OpenOvergrownSettings(benchmark::State& state) {
    const fs::path path = overgrownSettings();
    state.counters["file_MB"] = static_cast<double>(fs::file_size(path)) / (1 << 20);
    std::size_t recents = 0;
    measuredOpen(state, [&] {
        SettingsStore store(path);
        recents = store.settings().recentDocuments.size();
        benchmark::DoNotOptimize(store.settings());
    });
    state.counters["recents_loaded"] = static_cast<double>(recents);
}

// The refusal first, while the process is small, so its peak is its own.
BENCHMARK(BM_OpenShow)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_OpenShow)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenOvergrownSettings)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

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
