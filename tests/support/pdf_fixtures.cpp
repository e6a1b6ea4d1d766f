#include "support/pdf_fixtures.hpp"

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "support/temp_dir.hpp"

namespace tallowmark::testing {

namespace {

std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

PangoLayout* fixtureLayout(cairo_t* cr, const std::string& text, double size) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string("Liberation Serif");
    pango_font_description_set_absolute_size(font, size * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_text(layout, text.c_str(), -1);
    return layout;
}

}  // namespace

double textWidth(const std::string& text, double size) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    cairo_t* cr = cairo_create(surface);
    PangoLayout* layout = fixtureLayout(cr, text, size);
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return static_cast<double>(logical.width) / PANGO_SCALE;
}

void writePdf(const std::filesystem::path& path, const std::vector<FixturePage>& pages) {
    const double firstWidth = pages.empty() ? 300 : pages.front().width;
    const double firstHeight = pages.empty() ? 400 : pages.front().height;
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), firstWidth, firstHeight);
    cairo_t* cr = cairo_create(surface);
    for (const FixturePage& page : pages) {
        cairo_pdf_surface_set_size(surface, page.width, page.height);
        for (const FixtureText& item : page.texts) {
            PangoLayout* layout = fixtureLayout(cr, item.text, item.size);
            cairo_move_to(cr, item.x, item.top);
            pango_cairo_show_layout(cr, layout);
            g_object_unref(layout);
        }
        cairo_show_page(cr);
    }
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
}

bool rotatePdf(const std::filesystem::path& in, const std::filesystem::path& out, int degrees,
               const std::string& pages) {
    std::ostringstream command;
    command << "qpdf " << quoted(in) << " --rotate=+" << degrees << ":" << pages << " " << quoted(out);
    return std::system(command.str().c_str()) == 0;
}

bool setCropBox(const std::filesystem::path& in, const std::filesystem::path& out, double x1, double y1,
                double x2, double y2) {
    const std::filesystem::path qdf = out.string() + ".qdf";
    if (std::system(("qpdf --qdf --object-streams=disable " + quoted(in) + " " + quoted(qdf)).c_str()) != 0)
        return false;
    std::string text = readText(qdf);
    std::ostringstream box;
    box << "/CropBox [ " << x1 << " " << y1 << " " << x2 << " " << y2 << " ]\n  /MediaBox";
    bool edited = false;
    for (std::size_t at = text.find("/MediaBox"); at != std::string::npos;
         at = text.find("/MediaBox", at + box.str().size())) {
        text.replace(at, 9, box.str());
        edited = true;
    }
    writeText(qdf, text);
    // fix-qdf repairs the object offsets the edit moved.
    return edited && std::system(("fix-qdf " + quoted(qdf) + " > " + quoted(out)).c_str()) == 0;
}

}  // namespace tallowmark::testing

#include <spng.h>

namespace tallowmark::testing {

Bitmap decodePng(const std::vector<std::uint8_t>& png) {
    Bitmap bitmap;
    spng_ctx* ctx = spng_ctx_new(0);
    spng_ihdr header{};
    std::size_t size = 0;
    if (spng_set_png_buffer(ctx, png.data(), png.size()) == 0 && spng_get_ihdr(ctx, &header) == 0 &&
        spng_decoded_image_size(ctx, SPNG_FMT_RGB8, &size) == 0) {
        bitmap.rgb.resize(size);
        if (spng_decode_image(ctx, bitmap.rgb.data(), size, SPNG_FMT_RGB8, 0) == 0) {
            bitmap.width = static_cast<int>(header.width);
            bitmap.height = static_cast<int>(header.height);
        } else {
            bitmap.rgb.clear();
        }
    }
    spng_ctx_free(ctx);
    return bitmap;
}

InkBox inkBox(const Bitmap& bitmap) {
    InkBox box;
    for (int y = 0; y < bitmap.height; ++y)
        for (int x = 0; x < bitmap.width; ++x) {
            const unsigned char* p = &bitmap.rgb[3 * (static_cast<std::size_t>(y) * bitmap.width + x)];
            if (p[0] + p[1] + p[2] > 3 * 128) continue;
            box.minX = std::min(box.minX, double(x) / bitmap.width);
            box.maxX = std::max(box.maxX, double(x + 1) / bitmap.width);
            box.minY = std::min(box.minY, double(y) / bitmap.height);
            box.maxY = std::max(box.maxY, double(y + 1) / bitmap.height);
        }
    return box;
}

}  // namespace tallowmark::testing
