// Script document costs: opening (which reads every page's lines for the
// automatic crop), drawing and encoding one page at the interactive width, and
// a cache hit. The script is a made-up play: A4 pages of 40 lines of dialogue.
#include <benchmark/benchmark.h>
#include <cairo-pdf.h>
#include <pango/pangocairo.h>

#include <filesystem>
#include <map>
#include <string>

#include "document/document_store.hpp"

namespace {

using tallowmark::DocumentStore;

std::filesystem::path scriptPdf(int pages) {
    static std::map<int, std::filesystem::path> made;
    if (auto found = made.find(pages); found != made.end()) return found->second;
    const auto path = std::filesystem::temp_directory_path() / ("tallowmark-bench-" + std::to_string(pages) + ".pdf");
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), 595, 842);
    cairo_t* cr = cairo_create(surface);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string("Liberation Serif 12");
    pango_layout_set_font_description(layout, font);
    for (int page = 0; page < pages; ++page) {
        for (int line = 0; line < 40; ++line) {
            const std::string text = (line % 5 == 0 ? "PROSPERO.  " : "    ") + std::string("Line ") +
                                     std::to_string(line) + " of page " + std::to_string(page + 1) +
                                     ": the cloud-capp'd towers, the gorgeous palaces, the solemn temples";
            pango_layout_set_text(layout, text.c_str(), -1);
            cairo_move_to(cr, 72, 72 + line * 17);
            pango_cairo_show_layout(cr, layout);
        }
        pango_layout_set_text(layout, std::to_string(page + 1).c_str(), -1);
        cairo_move_to(cr, 290, 800);
        pango_cairo_show_layout(cr, layout);
        cairo_show_page(cr);
    }
    pango_font_description_free(font);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return made[pages] = path;
}

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

void BM_CacheHit(benchmark::State& state) {
    DocumentStore store;
    store.open(scriptPdf(120));
    store.renderPage(3, 1600);
    for (auto _ : state) benchmark::DoNotOptimize(store.renderPage(3, 1600));
}
BENCHMARK(BM_CacheHit)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
