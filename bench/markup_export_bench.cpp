// The marked-script export of a full show: 120 pages with 200 cues (boxes and
// labels), 50 memos and 20 inserted lines, each opening a gap on its page.
// Reports the export time and the size of the written PDF per page; then the
// same with a few texts of huge length.
#include <benchmark/benchmark.h>

#include <array>
#include <filesystem>
#include <string>

#include "bench_script.hpp"
#include "export/markup_exporter.hpp"

namespace {

using namespace tallowmark;

constexpr int pages = 120;

void buildShow(CueSidecar& sidecar, Layout& layout) {
    layout.labelFontPx = 12;
    layout.labelLineH = 1.2;
    layout.labelPadX = 4;
    layout.labelPadY = 2;
    layout.resolvedFonts = {"DejaVu Sans Mono"};
    for (int p = 0; p < pages; ++p) {
        PageLayout& page = layout.pages[p];
        page.pageWpx = 900;
        page.gutter = {false, 120};
        page.pageHpx = 1200;
    }
    for (int i = 0; i < 200; ++i) {
        const int p = i * pages / 200;
        const double y = 0.1 + 0.8 * ((i * 37) % 100) / 100.0;
        Cue cue;
        cue.page = p;
        cue.y = y;
        sidecar.cues.push_back(cue);
        PageLayout& page = layout.pages[p];
        page.cues.push_back({cue.id, i % 3 ? "" : "#2060ff", 0.12, 0.4, y, 0.018, 3, 3, 1});
        // In a right gutter of 120 px, each with its leader from the box, as the page lays them out.
        page.labels.push_back({cue.id, "Q" + std::to_string(i + 1) + (i % 4 ? "" : "\nLX GO"), "", 1.002, 0.12, y,
                               i % 4 ? 0.02 : 0.04, i % 4 ? 1 : 2, 0, 60,
                               std::array<double, 4>{0.52, y + 0.009, 1.002, y + 0.01}});
    }
    for (int i = 0; i < 50; ++i) {
        Memo memo;
        memo.page = (i * 7) % pages;
        memo.y = 0.7;
        memo.color = i % 2 ? "rose" : "";
        memo.text = "Hold for the laugh, then go on the door slam";
        sidecar.memos.push_back(memo);
    }
    for (int i = 0; i < 20; ++i) {
        Insert insert;
        insert.page = (i * 11) % pages;
        insert.afterY = 0.5;
        insert.lineH = 0.02;
        sidecar.inserts.push_back(insert);
        PageLayout& page = layout.pages[insert.page];
        page.extra += 0.026;
        page.gaps.push_back({0.5, 0.026});
        page.inserts.push_back({"PROSPERO (aside). An inserted line of the new draft", 0.12, 0.76, 0.5 / 1.026,
                                0.026 / 1.026, 0.02, 1});
    }
}

void BM_ExportMarkedScript(benchmark::State& state) {
    const auto script = bench::scriptPdf(pages);
    const auto out = std::filesystem::temp_directory_path() / "tallowmark-bench-marked.pdf";
    CueSidecar sidecar;
    Layout layout;
    buildShow(sidecar, layout);
    for (auto _ : state) {
        if (!MarkupExporter::exportMarkedScript(script, sidecar, layout, out, true, false)) {
            state.SkipWithError("export failed");
            break;
        }
    }
    state.counters["kB_per_page"] = std::filesystem::file_size(out) / 1024.0 / pages;
    std::filesystem::remove(out);
}
BENCHMARK(BM_ExportMarkedScript)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same show with one cue label, inserted line, memo and flag each holding
// state.range(0) characters of one word: the export lays out only what shows.
void BM_ExportLongTexts(benchmark::State& state) {
    const auto script = bench::scriptPdf(pages);
    const auto out = std::filesystem::temp_directory_path() / "tallowmark-bench-long.pdf";
    CueSidecar sidecar;
    Layout layout;
    buildShow(sidecar, layout);
    const std::string text(static_cast<std::size_t>(state.range(0)), 'x');
    layout.pages[0].labels[0].text = "Q1 " + text;
    layout.pages[sidecar.inserts[0].page].inserts[0].text = text;
    sidecar.memos[0].text = text;
    Flag flag;
    flag.text = text;
    sidecar.flags.push_back(flag);
    for (auto _ : state) {
        if (!MarkupExporter::exportMarkedScript(script, sidecar, layout, out, true, false)) {
            state.SkipWithError("export failed");
            break;
        }
    }
    std::filesystem::remove(out);
}
BENCHMARK(BM_ExportLongTexts)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
