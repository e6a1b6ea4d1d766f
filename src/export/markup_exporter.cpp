#include "export/markup_exporter.hpp"

#include <cairo-pdf.h>
#include <cairo.h>
#include <glib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <optional>

#include "core/atomic_file.hpp"
#include "core/system_log.hpp"
#include "document/document_store.hpp"
#include "export/export_bands.hpp"
#include "export/export_drawing.hpp"
#include "export/export_overlays.hpp"
#include "export/script_files.hpp"

namespace tallowmark {

namespace {

using export_drawing::PageGeometry;

// Largest page side a PDF reader accepts (200 inches); a grown page beyond it
// cannot be drawn and is left out like any other page that cannot be drawn.
constexpr double maxPagePoints = 14400;

// The output page's measures, or nothing when the page cannot be drawn.
std::optional<PageGeometry> geometryOf(const PageFrame& frame, const PageLayout* page) {
    PageGeometry g;
    g.croppedWidth = frame.croppedWidth();
    g.croppedHeight = frame.croppedHeight();
    g.grownHeight = page ? g.croppedHeight * (1 + page->extra) : g.croppedHeight;
    g.pointsPerPixel = page && page->pageWpx > 0 ? g.croppedWidth / page->pageWpx : 1;
    if (page) g.gutterWidth = page->gutter.px * g.pointsPerPixel;
    if (page && page->gutter.left) g.gutterLeft = true;
    if (!(g.croppedWidth > 0 && g.croppedHeight > 0 && g.grownHeight > 0) ||
        g.croppedWidth + g.gutterWidth > maxPagePoints ||
        g.grownHeight > maxPagePoints || !std::isfinite(g.pointsPerPixel))
        return std::nullopt;
    return g;
}

// Every cue and inserted line needs a measured page: without one its place on
// the exported page would be a guess. The refusal lines carry their own
// "TALLOWMARK export: " prefix, so they go out without the log's general one.
bool layoutCoversMarks(const CueSidecar& sidecar, const Layout& layout) {
    auto measured = [&](std::int64_t page) {
        auto it = layout.pages.find(page);
        return it != layout.pages.end() && it->second.pageWpx > 0;
    };
    for (const Cue& cue : sidecar.cues) {
        if (!measured(cue.page)) {
            logSystemLine("TALLOWMARK export: sivulle " + std::to_string(cue.page + 1) +
                          " ei ole ruudun ladontaa - vientia ei tehda");
            return false;
        }
    }
    for (const Insert& insert : sidecar.inserts) {
        if (!measured(insert.page)) {
            logSystemLine("TALLOWMARK export: sivulle " + std::to_string(insert.page + 1) +
                          " (lisatty rivi) ei ole ruudun ladontaa - vientia ei tehda");
            return false;
        }
    }
    return true;
}

}  // namespace

Rgba MarkupExporter::hexColor(std::string_view text, std::string_view fallback) {
    auto parse = [](std::string_view t) -> std::optional<Rgba> {
        if (t.size() != 7 || t[0] != '#') return std::nullopt;
        int bytes[3];
        for (int i = 0; i < 3; ++i) {
            const int hi = g_ascii_xdigit_value(t[1 + 2 * i]), lo = g_ascii_xdigit_value(t[2 + 2 * i]);
            if (hi < 0 || lo < 0) return std::nullopt;
            bytes[i] = hi * 16 + lo;
        }
        return Rgba{bytes[0] / 255.0, bytes[1] / 255.0, bytes[2] / 255.0, 1};
    };
    if (auto c = parse(text)) return *c;
    if (auto c = parse(fallback)) return *c;
    return {0.85, 0.22, 0.11, 1};
}

std::pair<std::string, std::string> MarkupExporter::memoPalette(std::string_view colorID) {
    if (colorID == "rose") return {"#ffe0d8", "#d99a86"};
    if (colorID == "green") return {"#e2f2d9", "#9cc48a"};
    if (colorID == "blue") return {"#dde9f8", "#8fadd4"};
    if (colorID == "grey") return {"#ebebe8", "#b0b0aa"};
    return {"#fff6d5", "#d9c47a"};
}

double MarkupExporter::chipOriginX(double x, double width, double pageWidth, double margin) {
    return std::max(std::min(x, pageWidth - width - margin), margin);
}

bool MarkupExporter::exportMarkedScript(const std::filesystem::path& pdf, const CueSidecar& sidecar,
                                        const Layout& layout, const std::filesystem::path& to, bool includeMemos,
                                        bool dropPageNumbers, std::FILE* debugOut, const std::string& password) {
    // The callers refuse these with a reason; this keeps any other caller from
    // writing the export over the script or its marks.
    if (scriptFileAt(pdf, to)) return false;
    DocumentStore store;
    const std::optional<DocumentStore::Info> info = store.open(pdf, password);
    if (!info) return false;
    if (dropPageNumbers) store.setDropPageNumbers(true);
    if (!sidecar.crop.empty()) store.setCrop(cropFromList(sidecar.crop));
    if (!layoutCoversMarks(sidecar, layout)) return false;
    if (!std::getenv("TALLOWMARK_EXPORT_DEBUG")) debugOut = nullptr;

    std::string bytes;
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(export_drawing::appendToBuffer, &bytes, 595, 842);
    cairo_t* cr = cairo_create(surface);
    bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;

    for (int index = 0; ok && index < info->pageCount; ++index) {
        const std::optional<PageFrame> frame = store.pageFrame(index);
        if (!frame) continue;
        const auto found = layout.pages.find(index);
        const PageLayout* page = found != layout.pages.end() ? &found->second : nullptr;
        const std::optional<PageGeometry> g = geometryOf(*frame, page);
        if (!g) continue;
        // The page grows by the label gutter on its outer side; on the left
        // the script moves right by it, and the labels there stand left of it.
        cairo_pdf_surface_set_size(surface, g->croppedWidth + g->gutterWidth, g->grownHeight);
        cairo_save(cr);
        if (g->gutterLeft) cairo_translate(cr, g->gutterWidth, 0);
        export_drawing::drawPageBands(cr, store, index, *frame, *g, page);
        export_drawing::drawOverlays(cr, *g, index, sidecar, includeMemos, layout, page, debugOut);
        cairo_restore(cr);
        cairo_show_page(cr);
        ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    }
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    ok = ok && cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    // Created like any document a program saves (0666 less the umask); a file
    // being replaced keeps its permissions.
    return ok && writeFileAtomically(to, bytes);
}

}  // namespace tallowmark
