#include "export/export_text.hpp"

#include <glib.h>

#include <algorithm>
#include <cmath>

namespace tallowmark::export_drawing {

namespace {

// The family fontconfig picks for the generic monospaced family: the page
// reports that name when the system's monospaced font set its labels.
std::string systemMonospacedFamily() {
    static const std::string family = [] {
        PangoFontMap* map = pango_cairo_font_map_get_default();
        PangoContext* context = pango_font_map_create_context(map);
        FontPtr desc = font("monospace", PANGO_WEIGHT_NORMAL, PANGO_STYLE_NORMAL, 12);
        std::string name = "monospace";
        if (PangoFont* loaded = pango_font_map_load_font(map, context, desc.get())) {
            PangoFontDescription* d = pango_font_describe(loaded);
            if (const char* f = pango_font_description_get_family(d)) name = f;
            pango_font_description_free(d);
            g_object_unref(loaded);
        }
        g_object_unref(context);
        return name;
    }();
    return family;
}

}  // namespace

FontPtr font(const char* family, PangoWeight weight, PangoStyle style, double size) {
    FontPtr f(pango_font_description_new(), pango_font_description_free);
    pango_font_description_set_family(f.get(), family);
    pango_font_description_set_weight(f.get(), weight);
    pango_font_description_set_style(f.get(), style);
    pango_font_description_set_absolute_size(f.get(), std::clamp(size, 0.1, maxFontPoints) * PANGO_SCALE);
    return f;
}

// Labels use the system monospaced font when the page did; otherwise the
// Courier stand-in, which pango itself falls back from to monospace.
FontPtr labelFont(double size, const Layout& layout) {
    const std::string system = systemMonospacedFamily();
    const bool pageUsedSystemMono = std::any_of(layout.resolvedFonts.begin(), layout.resolvedFonts.end(),
                                                [&](const std::string& name) {
                                                    return name.find("SF Mono") != std::string::npos ||
                                                           name.find(system) != std::string::npos;
                                                });
    return font(pageUsedSystemMono ? "monospace" : "Liberation Mono,monospace", PANGO_WEIGHT_BOLD,
                PANGO_STYLE_NORMAL, size);
}

TextRun::TextRun(cairo_t* cr, const PangoFontDescription* desc, double letterSpacing)
    : cr_(cr), layout_(pango_cairo_create_layout(cr)) {
    pango_layout_set_font_description(layout_, desc);
    if (letterSpacing != 0) {
        PangoAttrList* attrs = pango_attr_list_new();
        pango_attr_list_insert(attrs, pango_attr_letter_spacing_new(static_cast<int>(letterSpacing * PANGO_SCALE)));
        pango_layout_set_attributes(layout_, attrs);
        pango_attr_list_unref(attrs);
    }
    PangoFontMetrics* metrics = pango_context_get_metrics(pango_layout_get_context(layout_), desc, nullptr);
    ascent_ = pango_font_metrics_get_ascent(metrics) / double(PANGO_SCALE);
    descent_ = pango_font_metrics_get_descent(metrics) / double(PANGO_SCALE);
    pango_font_metrics_unref(metrics);
}

TextRun::~TextRun() { g_object_unref(layout_); }

double TextRun::width(const std::string& text) {
    pango_layout_set_text(layout_, text.c_str(), -1);
    PangoRectangle logical;
    pango_layout_get_extents(layout_, nullptr, &logical);
    return logical.width / double(PANGO_SCALE);
}

void TextRun::draw(const std::string& text, double x, double baseline) {
    pango_layout_set_text(layout_, text.c_str(), -1);
    PangoLayoutLine* line = pango_layout_get_line_readonly(layout_, 0);
    if (!line) return;
    cairo_move_to(cr_, x, baseline);
    pango_cairo_show_layout_line(cr_, line);
}

std::string TextRun::resolvedFamily() {
    pango_layout_set_text(layout_, "M", -1);
    PangoFont* loaded =
        pango_context_load_font(pango_layout_get_context(layout_), pango_layout_get_font_description(layout_));
    if (!loaded) return "?";
    PangoFontDescription* desc = pango_font_describe(loaded);
    const char* family = pango_font_description_get_family(desc);
    std::string name = family ? family : "?";
    pango_font_description_free(desc);
    g_object_unref(loaded);
    return name;
}

std::vector<std::string> splitLines(std::string_view text, std::size_t maxLines) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (lines.size() < maxLines) {
        const std::size_t end = text.find('\n', start);
        lines.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return lines;
}

Clipped visiblePrefix(std::string_view text, std::size_t maxChars, std::size_t maxLines) {
    maxLines = std::max<std::size_t>(maxLines, 1);
    std::size_t chars = 0, breaks = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xc0) == 0x80) continue;  // inside a code point
        if (chars >= maxChars) return {text.substr(0, i), true};
        if (byte == '\n' && ++breaks >= maxLines) return {text.substr(0, i), true};
        ++chars;
    }
    return {text, false};
}

std::string shortText(std::string_view text, std::size_t maxChars) {
    const Clipped c = visiblePrefix(text, maxChars);
    if (!c.cut) return std::string(c.text);
    const std::size_t end = c.text.find_last_not_of(" \t\r\n\v\f");
    return std::string(c.text.substr(0, end == std::string_view::npos ? 0 : end + 1)) + "\u2026";
}

VisibleRoom visibleChars(double width, double height, double fontSize) {
    // Sizes below a tenth of a point draw nothing legible; they count as that.
    const double size = std::isfinite(fontSize) ? std::max(fontSize, 0.1) : 1;
    const auto count = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1e5) : 0.0; };
    const auto perLine = static_cast<std::size_t>(std::ceil(count(width) / (0.2 * size))) + 1;
    const auto lines = static_cast<std::size_t>(std::ceil(count(height) / size)) + 1;
    return {perLine * lines, lines};
}

std::size_t tagChars(double pageWpx, double fontPx) {
    const double w = std::isfinite(pageWpx) ? std::min(pageWpx, 1e5) : 0;
    const double advance = 0.6 * (std::isfinite(fontPx) ? std::max(fontPx, 0.1) : 1);
    return static_cast<std::size_t>(std::max(1.0, std::floor((w - 16) / advance)));
}

std::string trimmed(const std::string& text, const char* blanks) {
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

void drawWrappedText(cairo_t* cr, const std::string& text, const PangoFontDescription* desc, const Box& box,
                     const Rgba& color) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_layout_set_font_description(layout, desc);
    pango_layout_set_width(layout, static_cast<int>(box.w * PANGO_SCALE));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    pango_layout_set_text(layout, text.c_str(), -1);
    cairo_save(cr);
    cairo_rectangle(cr, box.x, box.y, box.w, box.h);
    cairo_clip(cr);
    cairo_set_source_rgba(cr, color.r, color.g, color.b, 1);
    cairo_move_to(cr, box.x, box.y);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
    g_object_unref(layout);
}

}  // namespace tallowmark::export_drawing
