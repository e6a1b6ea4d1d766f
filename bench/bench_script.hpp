#pragma once

// The benchmarks' script: a made-up play, A4 pages of 40 lines of dialogue and
// a page number at the foot, written once per page count and process.
#include <cairo-pdf.h>
#include <pango/pangocairo.h>

#include <filesystem>
#include <map>
#include <string>

namespace tallowmark::bench {

// One page after another: `lineText(page, line)` set in `face` from the top
// left, `step` points apart, and the page number at the foot.
template <class LineText>
void writeScriptPdf(const std::filesystem::path& path, int pages, const char* face, int lines, double top,
                    double left, double step, LineText lineText) {
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), 595, 842);
    cairo_t* cr = cairo_create(surface);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string(face);
    pango_layout_set_font_description(layout, font);
    for (int page = 0; page < pages; ++page) {
        for (int line = 0; line < lines; ++line) {
            const std::string text = lineText(page, line);
            pango_layout_set_text(layout, text.c_str(), -1);
            cairo_move_to(cr, left, top + line * step);
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
}

inline std::filesystem::path scriptPdf(int pages) {
    static std::map<int, std::filesystem::path> made;
    if (auto found = made.find(pages); found != made.end()) return found->second;
    const auto path = std::filesystem::temp_directory_path() / ("tallowmark-bench-" + std::to_string(pages) + ".pdf");
    writeScriptPdf(path, pages, "Liberation Serif 12", 40, 72, 72, 17, [](int page, int line) {
        return (line % 5 == 0 ? "PROSPERO.  " : "    ") + std::string("Line ") + std::to_string(line) + " of page " +
               std::to_string(page + 1) + ": the cloud-capp'd towers, the gorgeous palaces, the solemn temples";
    });
    return made[pages] = path;
}

}  // namespace tallowmark::bench
