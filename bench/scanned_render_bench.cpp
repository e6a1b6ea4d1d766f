// Drawing and encoding a scanned script page at the interactive width: an A4
// page of dialogue rasterised by Ghostscript, turned and grained by
// ImageMagick and wrapped back as a bare JPEG, as a scanner hands one over.
// At 150 dpi the picture is drawn a quarter larger than it is, at 300 dpi
// smaller. Target at 150 dpi and 1600 px: 60 ms of CPU. bench/scanned_page.sh
// times the same page beside a reference renderer.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "document/document_store.hpp"
#include "support/scan_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace {

using namespace tallowmark;

struct ScannedPage {
    testing::TempDir dir;
    testing::Scan scan;
};

// Made once per dpi and process; none, with the reason, when a tool is missing.
const ScannedPage* scannedPage(int dpi, std::string& why) {
    static std::map<int, std::unique_ptr<ScannedPage>> made;
    auto& slot = made[dpi];
    if (slot) return slot.get();
    auto page = std::make_unique<ScannedPage>();
    try {
        testing::writePdf(page->dir / "play.pdf", {testing::playPage(595, 842)});
        page->scan = {page->dir / "scan.pdf", dpi, 1.5, 0.5};
        testing::scanPdf(page->dir / "play.pdf", page->scan);
    } catch (const std::exception& error) {
        why = error.what();
        return nullptr;
    }
    slot = std::move(page);
    return slot.get();
}

void BM_RenderScannedPage(benchmark::State& state) {
    std::string why;
    const ScannedPage* page = scannedPage(static_cast<int>(state.range(0)), why);
    if (!page) {
        state.SkipWithError(why.c_str());
        return;
    }
    DocumentStore store;
    if (!store.open(page->scan.pdf)) {
        state.SkipWithError("the scan does not open");
        return;
    }
    std::size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        store.setCrop(std::nullopt);  // empties the cache
        state.ResumeTiming();
        const auto png = store.renderPage(0, static_cast<int>(state.range(1)));
        if (!png) {
            state.SkipWithError("the scan did not draw");
            return;
        }
        bytes = png->size();
    }
    state.counters["PNG_kB"] = static_cast<double>(bytes) / 1024;
}
BENCHMARK(BM_RenderScannedPage)
    ->ArgNames({"dpi", "width"})
    ->Args({150, 1600})
    ->Args({300, 1600})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
