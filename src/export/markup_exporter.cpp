#include "export/markup_exporter.hpp"

#include <cairo-pdf.h>
#include <cairo.h>
#include <glib.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "core/atomic_file.hpp"
#include "core/system_log.hpp"
#include "export/script_files.hpp"
#include "document/document_store.hpp"

namespace tallowmark {

namespace {

// Largest page side a PDF reader accepts (200 inches); a grown page beyond it
// cannot be drawn and is left out like any other page that cannot be drawn.
constexpr double maxPagePoints = 14400;
// Overlays are placed from measured numbers; one far off the page (a broken
// measurement) is skipped rather than handed to cairo's fixed-point range.
constexpr double maxCoordinate = 1e6;
constexpr double maxFontPoints = 2000;

const char* const defaultMarkColor = "#d8391d";
const char* const defaultFlagColor = "#2f6fd0";
const char* const cutLineColor = "#3a4a86";
const char* const memoTextColor = "#241f10";

// Rectangles in output-page points, origin top-left, y down (cairo's space).
struct Box {
    double x = 0, y = 0, w = 0, h = 0;
    double right() const { return x + w; }
    double bottom() const { return y + h; }
    Box grown(double d) const { return {x - d, y - d, w + 2 * d, h + 2 * d}; }
    bool sane() const {
        for (double v : {x, y, w, h})
            if (!std::isfinite(v) || std::fabs(v) > maxCoordinate) return false;
        return w >= 0 && h >= 0;
    }
};

struct PageGeometry {
    double cw = 0, ch = 0;  // cropped size
    double G = 0;           // grown height
    double k = 1;           // points per displayed pixel
    Box rect(double x, double y, double w, double h) const { return {cw * x, G * y, cw * w, G * h}; }
};

void setColor(cairo_t* cr, const Rgba& c, double alpha) { cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha); }

void roundedRect(cairo_t* cr, const Box& b, double radius) {
    const double r = std::clamp(radius, 0.0, std::min(b.w, b.h) / 2);
    cairo_new_sub_path(cr);
    cairo_arc(cr, b.right() - r, b.y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, b.right() - r, b.bottom() - r, r, 0, M_PI / 2);
    cairo_arc(cr, b.x + r, b.bottom() - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, b.x + r, b.y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

// ---- text -------------------------------------------------------------------

using FontPtr = std::unique_ptr<PangoFontDescription, void (*)(PangoFontDescription*)>;

FontPtr font(const char* family, PangoWeight weight, PangoStyle style, double size) {
    FontPtr f(pango_font_description_new(), pango_font_description_free);
    pango_font_description_set_family(f.get(), family);
    pango_font_description_set_weight(f.get(), weight);
    pango_font_description_set_style(f.get(), style);
    pango_font_description_set_absolute_size(f.get(), std::clamp(size, 0.1, maxFontPoints) * PANGO_SCALE);
    return f;
}

// One run of text in one font on the output context; measures and draws.
class TextRun {
public:
    TextRun(cairo_t* cr, const PangoFontDescription* desc, double letterSpacing = 0)
        : cr_(cr), layout_(pango_cairo_create_layout(cr)) {
        pango_layout_set_font_description(layout_, desc);
        if (letterSpacing != 0) {
            PangoAttrList* attrs = pango_attr_list_new();
            pango_attr_list_insert(attrs, pango_attr_letter_spacing_new(static_cast<int>(letterSpacing * PANGO_SCALE)));
            pango_layout_set_attributes(layout_, attrs);
            pango_attr_list_unref(attrs);
        }
        PangoFontMetrics* metrics =
            pango_context_get_metrics(pango_layout_get_context(layout_), desc, nullptr);
        ascent_ = pango_font_metrics_get_ascent(metrics) / double(PANGO_SCALE);
        descent_ = pango_font_metrics_get_descent(metrics) / double(PANGO_SCALE);
        pango_font_metrics_unref(metrics);
    }
    ~TextRun() { g_object_unref(layout_); }
    TextRun(const TextRun&) = delete;
    TextRun& operator=(const TextRun&) = delete;

    double ascent() const { return ascent_; }
    double lineHeight() const { return ascent_ + descent_; }  // ascender - descender

    double width(const std::string& text) {
        pango_layout_set_text(layout_, text.c_str(), -1);
        PangoRectangle logical;
        pango_layout_get_extents(layout_, nullptr, &logical);
        return logical.width / double(PANGO_SCALE);
    }

    // Draws one line with its baseline starting at (x, baseline).
    void draw(const std::string& text, double x, double baseline) {
        pango_layout_set_text(layout_, text.c_str(), -1);
        PangoLayoutLine* line = pango_layout_get_line_readonly(layout_, 0);
        if (!line) return;
        cairo_move_to(cr_, x, baseline);
        pango_cairo_show_layout_line(cr_, line);
    }

    // The family name of the font actually used, after fontconfig's fallback.
    std::string resolvedFamily() {
        pango_layout_set_text(layout_, "M", -1);
        PangoFont* loaded = pango_context_load_font(pango_layout_get_context(layout_),
                                                    pango_layout_get_font_description(layout_));
        if (!loaded) return "?";
        PangoFontDescription* desc = pango_font_describe(loaded);
        const char* family = pango_font_description_get_family(desc);
        std::string name = family ? family : "?";
        pango_font_description_free(desc);
        g_object_unref(loaded);
        return name;
    }

private:
    cairo_t* cr_;
    PangoLayout* layout_;
    double ascent_ = 0, descent_ = 0;
};

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

std::string trimmed(const std::string& text, const char* blanks) {
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

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

// ---- page bands ---------------------------------------------------------------

struct Band {
    double a, b;          // page-height fractions, top and bottom
    double left, right;   // width fractions
    double shift;         // page-height fraction moved down
    double tx;            // width fraction moved sideways
};

std::vector<Band> bandsOf(const PageLayout* page) {
    struct Segment { double a, b, s; };
    std::vector<Segment> segments;
    if (!page) {
        segments.push_back({0, 1, 0});
    } else {
        double p = 0, s = 0;
        for (const Gap& gap : page->gaps) {
            const double c = std::min(std::max(gap.afterY, p), 1.0);
            segments.push_back({p, c, s});
            s += gap.height;
            p = c;
        }
        segments.push_back({p, 1, s});
    }
    std::vector<Band> bands;
    for (const Segment& seg : segments) {
        const HRow* row = nullptr;
        if (page) {
            for (const HRow& r : page->hrows) {
                // A row split at a cut ends where the segment ends; the tolerance
                // absorbs the page's rounding of fractions.
                if (std::fabs(r.bottom - seg.b) < 0.0015 && r.top > seg.a - 0.000001 && (r.dL > 0 || r.dR > 0)) {
                    row = &r;
                    break;
                }
            }
        }
        if (!row) {
            bands.push_back({seg.a, seg.b, 0, 1, seg.s, 0});
            continue;
        }
        if (seg.a + 0.000001 < row->top) bands.push_back({seg.a, row->top, 0, 1, seg.s, 0});
        bands.push_back({row->top, seg.b, 0, row->x0, seg.s, -row->dL});
        bands.push_back({row->top, seg.b, row->x0, row->x1, seg.s, 0});
        bands.push_back({row->top, seg.b, row->x1, 1, seg.s, row->dR});
    }
    return bands;
}

void drawPageBands(cairo_t* cr, const DocumentStore& store, int index, const DocumentStore::PageFrame& frame,
                   const PageGeometry& g, const PageLayout* page) {
    for (const Band& band : bandsOf(page)) {
        if (!(band.a < band.b) || !(band.left < band.right)) continue;
        const double dx = g.cw * band.tx, dy = g.ch * band.shift;
        if (!std::isfinite(dx) || !std::isfinite(dy) || std::fabs(dx) > maxCoordinate || std::fabs(dy) > maxCoordinate)
            continue;
        cairo_save(cr);
        cairo_translate(cr, dx, dy);
        cairo_rectangle(cr, g.cw * band.left, g.ch * band.a, g.cw * (band.right - band.left), g.ch * (band.b - band.a));
        cairo_clip(cr);
        if (frame.crop) {
            // The crop's top-left corner lands on the output page's; y runs down here.
            cairo_translate(cr, -frame.crop->x * frame.fullWidth, -(1 - frame.crop->maxY()) * frame.fullHeight);
        }
        store.drawPageForPrinting(index, cr, frame.fullWidth, frame.fullHeight);
        cairo_restore(cr);
    }
}

// ---- overlays -------------------------------------------------------------------

void drawLayoutMarks(cairo_t* cr, const PageGeometry& g, const PageLayout& page) {
    const Rgba cutColor = MarkupExporter::hexColor(cutLineColor, cutLineColor);
    for (const MarkBox& mark : page.marks) {
        const Box r = g.rect(mark.x, mark.dy, mark.w, mark.dh);
        if (!r.sane()) continue;
        if (mark.kind == "hide") {
            cairo_set_source_rgb(cr, 1, 1, 1);
            cairo_rectangle(cr, r.x, r.y, r.w, r.h);
            cairo_fill(cr);
        } else if (mark.kind == "cut") {
            cairo_set_source_rgba(cr, 1, 1, 1, 0.45);
            cairo_rectangle(cr, r.x, r.y, r.w, r.h);
            cairo_fill(cr);
            const double mid = r.y + r.h / 2;
            cairo_move_to(cr, r.x - 2 * g.k, mid);
            cairo_line_to(cr, r.right() + 2 * g.k, mid);
            setColor(cr, cutColor, 1);
            cairo_set_line_width(cr, 2 * g.k);
            cairo_stroke(cr);
        }
    }
}

void drawHighlights(cairo_t* cr, const PageGeometry& g, const CueSidecar& sidecar, std::int64_t pageIndex) {
    cairo_set_operator(cr, CAIRO_OPERATOR_MULTIPLY);
    cairo_set_source_rgba(cr, 1.0, 0.839, 0.039, 0.3);
    for (const Mark& mark : sidecar.marks) {
        if (mark.page != pageIndex || mark.kind == "region" || mark.kind == "cut" || mark.kind == "hide") continue;
        const Box r = g.rect(mark.x, mark.y, mark.w, mark.h);
        if (!r.sane()) continue;
        cairo_rectangle(cr, r.x, r.y, r.w, r.h);
        cairo_fill(cr);
    }
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
}

// A rounded, filled tag with white lines: a region's tab and a flag's chip.
// Each entry is a line of text in its own font.
void drawTag(cairo_t* cr, const PageGeometry& g, double x, double top, const Rgba& color,
             const std::vector<std::pair<std::string, const PangoFontDescription*>>& lines) {
    const double f = 12 * g.k;
    std::vector<std::unique_ptr<TextRun>> runs;
    double widest = 0;
    for (const auto& [text, desc] : lines) {
        runs.push_back(std::make_unique<TextRun>(cr, desc));
        widest = std::max(widest, runs.back()->width(text));
    }
    const double width = f + widest;
    const double height = 0.5 * f + 1.25 * f * lines.size();
    const Box tag{MarkupExporter::chipOriginX(x, width, g.cw, 2 * g.k), top, width, height};
    if (!tag.sane()) return;
    roundedRect(cr, tag, 3);
    setColor(cr, color, color.a);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const double lineTop = tag.y + 0.25 * f + 1.25 * f * i;
        const double baseline = lineTop + (1.25 * f - runs[i]->lineHeight()) / 2 + runs[i]->ascent();
        runs[i]->draw(lines[i].first, tag.x + 0.5 * f, baseline);
    }
}

void drawRegions(cairo_t* cr, const PageGeometry& g, const CueSidecar& sidecar, std::int64_t pageIndex) {
    for (const Mark& mark : sidecar.marks) {
        if (mark.page != pageIndex || mark.kind != "region") continue;
        const Box r = g.rect(mark.x, mark.y, mark.w, mark.h);
        if (!r.sane()) continue;
        const Rgba color = MarkupExporter::hexColor(mark.color, defaultMarkColor);
        const Box inner = r.grown(-g.k);
        cairo_rectangle(cr, inner.x, inner.y, std::max(inner.w, 0.0), std::max(inner.h, 0.0));
        setColor(cr, color, 1);
        cairo_set_line_width(cr, 2 * g.k);
        cairo_stroke(cr);
        if (mark.text.empty()) continue;
        const FontPtr medium = font("monospace", PANGO_WEIGHT_MEDIUM, PANGO_STYLE_NORMAL, 0.82 * 12 * g.k);
        drawTag(cr, g, r.x, r.y, color, {{mark.text, medium.get()}});
    }
}

void drawMemos(cairo_t* cr, const PageGeometry& g, const CueSidecar& sidecar, std::int64_t pageIndex) {
    const Rgba textColor = MarkupExporter::hexColor(memoTextColor, memoTextColor);
    for (const Memo& memo : sidecar.memos) {
        if (memo.page != pageIndex) continue;
        const Box r = g.rect(memo.x, memo.y, memo.w, memo.h);
        if (!r.sane()) continue;
        const auto [paper, edge] = MarkupExporter::memoPalette(memo.color);
        cairo_rectangle(cr, r.x, r.y, r.w, r.h);
        setColor(cr, MarkupExporter::hexColor(paper, "#fff6d5"), 0.92);
        cairo_fill_preserve(cr);
        setColor(cr, MarkupExporter::hexColor(edge, "#d9c47a"), 1);
        cairo_set_line_width(cr, 0.8);
        cairo_stroke(cr);
        const std::string text = trimmed(memo.text, " \t\r\n\v\f");
        if (text.empty()) continue;
        const Box inner = r.grown(-3);
        if (inner.w <= 0 || inner.h <= 0) continue;
        const double size = std::max(std::min(0.22 * g.G * memo.h, 11.0), 6.0);
        const FontPtr desc = font("sans", PANGO_WEIGHT_MEDIUM, PANGO_STYLE_NORMAL, size);
        PangoLayout* layout = pango_cairo_create_layout(cr);
        pango_layout_set_font_description(layout, desc.get());
        pango_layout_set_width(layout, static_cast<int>(inner.w * PANGO_SCALE));
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
        pango_layout_set_text(layout, text.c_str(), -1);
        cairo_save(cr);
        cairo_rectangle(cr, inner.x, inner.y, inner.w, inner.h);
        cairo_clip(cr);
        setColor(cr, textColor, 1);
        cairo_move_to(cr, inner.x, inner.y);
        pango_cairo_show_layout(cr, layout);
        cairo_restore(cr);
        g_object_unref(layout);
    }
}

void drawFlags(cairo_t* cr, const PageGeometry& g, const CueSidecar& sidecar, std::int64_t pageIndex) {
    const double f = 12 * g.k;
    const FontPtr bold = font("monospace", PANGO_WEIGHT_BOLD, PANGO_STYLE_NORMAL, f);
    const FontPtr medium = font("monospace", PANGO_WEIGHT_MEDIUM, PANGO_STYLE_NORMAL, 0.82 * f);
    for (const Flag& flag : sidecar.flags) {
        if (flag.page != pageIndex) continue;
        const double x = g.cw * flag.x, y = g.G * flag.y;
        if (!Box{x, y, 0, 0}.sane()) continue;
        std::vector<std::pair<std::string, const PangoFontDescription*>> lines;
        const std::string role = trimmed(flag.role, " ");
        if (!role.empty()) lines.emplace_back(role, bold.get());
        if (!flag.text.empty()) lines.emplace_back(flag.text, medium.get());
        if (lines.empty()) lines.emplace_back("\u2022", bold.get());
        drawTag(cr, g, x, y, MarkupExporter::hexColor(flag.color, defaultFlagColor), lines);
    }
}

void drawCueBoxes(cairo_t* cr, const PageGeometry& g, const Layout& layout, const PageLayout& page) {
    const double k = g.k;
    for (const CueBox& cue : page.cues) {
        const Rgba c = MarkupExporter::hexColor(cue.color, defaultMarkColor);
        const Box r = g.rect(cue.x, cue.dy, cue.w, cue.dh);
        const Box b{r.x - k * cue.padL, r.y, r.w + k * cue.padL + k * cue.padR, r.h};
        const double radius = k * layout.markRadiusPx;
        if (!b.sane() || !std::isfinite(radius)) continue;

        // Glow. cairo has no blurred shadow, so the glow is built by hand: the
        // box grown by 2k filled solid, then rings of falling alpha out to the
        // blur distance, all clipped (even-odd) to outside the box so that
        // only the glow around it shows.
        const double blur = 12 * k;
        cairo_save(cr);
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
        const Box outer = b.grown(40);
        cairo_rectangle(cr, outer.x, outer.y, outer.w, outer.h);
        roundedRect(cr, b, radius);
        cairo_clip(cr);
        roundedRect(cr, b.grown(2 * k), radius + 2 * k);
        setColor(cr, c, 0.3);
        cairo_fill(cr);
        constexpr int rings = 6;
        const double step = blur / rings;
        for (int i = 0; i < rings && step > 0; ++i) {
            const double fade = 1.0 - (i + 1.0) / (rings + 1.0);
            const double grow = 2 * k + step * (i + 0.5);
            roundedRect(cr, b.grown(grow), radius + grow);
            setColor(cr, c, 0.3 * fade * fade);
            cairo_set_line_width(cr, step);
            cairo_stroke(cr);
        }
        cairo_restore(cr);

        roundedRect(cr, b, radius);
        setColor(cr, c, 0.3);
        cairo_fill(cr);

        roundedRect(cr, b.grown(0.5 * k), radius + 0.5 * k);
        cairo_set_line_width(cr, k);
        cairo_stroke(cr);

        const double o = 0.5 * k * layout.outlineWPx + k * cue.outlineOffset;
        if (!std::isfinite(o) || std::fabs(o) > maxCoordinate) continue;
        roundedRect(cr, b.grown(o), radius + o);
        setColor(cr, c, 0.72);
        cairo_set_line_width(cr, k * layout.outlineWPx);
        cairo_stroke(cr);
    }
}

void drawInserts(cairo_t* cr, const PageGeometry& g, const Layout& layout, const PageLayout& page) {
    for (const InsertBox& insert : page.inserts) {
        const Box r = g.rect(insert.x, insert.dy, insert.w, insert.dh);
        const double L = (g.G / (1 + page.extra)) * insert.lineH;
        const double size = layout.insertFontK * L;
        const double A = layout.insertLineK * L;
        const double E = (layout.insertLineK - 1) * L;
        if (!r.sane() || !std::isfinite(A) || !std::isfinite(E) || !(size > 0) || size > maxFontPoints) continue;
        const FontPtr desc = font("Liberation Serif,serif", PANGO_WEIGHT_NORMAL, PANGO_STYLE_ITALIC, size);
        TextRun run(cr, desc.get());
        cairo_save(cr);
        cairo_rectangle(cr, r.x, r.y - E / 2, r.w, r.h + E);
        cairo_clip(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        const std::vector<std::string> lines = splitLines(insert.text);
        for (std::size_t j = 0; j < lines.size(); ++j) {
            const double baseline = r.y - E / 2 + run.ascent() + (A - run.lineHeight()) / 2 + A * j;
            if (baseline - A > r.bottom() + E) break;  // below the clip: nothing more shows
            run.draw(lines[j], r.x + 2 * g.k, baseline);
        }
        cairo_restore(cr);
    }
}

void drawLabels(cairo_t* cr, const PageGeometry& g, const Layout& layout, const PageLayout& page,
                std::int64_t pageIndex, std::FILE* debugOut) {
    const double k = g.k;
    const double z = k * page.labelFontPx.value_or(layout.labelFontPx);
    if (!(z > 0) || z > maxFontPoints) return;
    const FontPtr desc = labelFont(z, layout);
    TextRun run(cr, desc.get(), 0.03 * z);
    const std::string fontName = debugOut ? run.resolvedFamily() : std::string();
    const double H = z * layout.labelLineH;
    for (const Label& label : page.labels) {
        const Box r = g.rect(label.x, label.dy, label.w, label.dh);
        const Box b{r.x - k * label.padL, r.y, r.w, r.h};
        if (!b.sane() || !std::isfinite(H)) continue;
        const std::vector<std::string> lines = splitLines(label.text);
        double widest = 0;
        const std::string* longest = &lines.front();
        for (const std::string& line : lines) {
            widest = std::max(widest, run.width(line));
            if (g_utf8_strlen(line.c_str(), -1) > g_utf8_strlen(longest->c_str(), -1)) longest = &line;
        }
        if (debugOut) {
            // A line feed inside the text would break the two-lines-per-label
            // form the measurements are read in; it is shown escaped.
            std::string shown;
            for (char c : label.text) shown += c == '\n' ? std::string("\\n") : std::string(1, c);
            const double native = (2 * k * layout.labelPadX + run.width(*longest)) / k;
            std::fprintf(debugOut, "sivu %lld selite '%s': ruutu %.1f px, natiivi %.1f px (%s)\n",
                         static_cast<long long>(pageIndex + 1), shown.c_str(), label.measuredWpx, native,
                         fontName.c_str());
            std::fprintf(debugOut, "  laatikko x %.2f y %.2f w %.2f h %.2f pt (dy %.5f dh %.5f, grownH %.2f)\n", b.x,
                         b.y, b.w, b.h, label.dy, label.dh, g.G);
        }
        const double offset = lines.size() < 2 ? b.y + (b.h - H * lines.size()) / 2 : b.y + k * layout.labelPadY;
        // The clip reaches as far right as the text needs, never past the page
        // edge, and never narrower than the box.
        const double clipW =
            std::max(std::min(std::max(b.x + 2 * k * layout.labelPadX + widest, b.right()), g.cw) - b.x, b.w);
        cairo_save(cr);
        cairo_rectangle(cr, b.x, b.y, clipW, b.h);
        cairo_clip(cr);
        setColor(cr, MarkupExporter::hexColor(label.color, defaultMarkColor), 1);
        for (std::size_t j = 0; j < lines.size(); ++j) {
            const double baseline = offset + H * j + (H - run.lineHeight()) / 2 + run.ascent();
            run.draw(lines[j], b.x + k * layout.labelPadX, baseline);
        }
        cairo_restore(cr);
    }
}

void drawOverlays(cairo_t* cr, const PageGeometry& g, std::int64_t pageIndex, const CueSidecar& sidecar,
                  bool includeMemos, const Layout& layout, const PageLayout* page, std::FILE* debugOut) {
    if (page) drawLayoutMarks(cr, g, *page);
    drawHighlights(cr, g, sidecar, pageIndex);
    drawRegions(cr, g, sidecar, pageIndex);
    if (includeMemos) drawMemos(cr, g, sidecar, pageIndex);
    drawFlags(cr, g, sidecar, pageIndex);
    if (!page) return;
    drawCueBoxes(cr, g, layout, *page);
    drawInserts(cr, g, layout, *page);
    drawLabels(cr, g, layout, *page, pageIndex, debugOut);
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

// Collects the PDF as cairo writes it; the whole file is written at once when
// it is complete, so a failed export leaves nothing under the chosen name.
cairo_status_t appendToBuffer(void* closure, const unsigned char* data, unsigned int length) {
    try {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    } catch (const std::bad_alloc&) {
        return CAIRO_STATUS_NO_MEMORY;
    }
    return CAIRO_STATUS_SUCCESS;
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
                                        bool dropPageNumbers, std::FILE* debugOut) {
    // The callers refuse these with a reason; this keeps any other caller from
    // writing the export over the script or its marks.
    if (scriptFileAt(pdf, to)) return false;
    DocumentStore store;
    const std::optional<DocumentStore::Info> info = store.open(pdf);
    if (!info) return false;
    if (dropPageNumbers) store.setDropPageNumbers(true);
    if (!sidecar.crop.empty()) store.setCrop(sidecar.crop);
    if (!layoutCoversMarks(sidecar, layout)) return false;
    if (!std::getenv("TALLOWMARK_EXPORT_DEBUG")) debugOut = nullptr;

    std::string bytes;
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(appendToBuffer, &bytes, 595, 842);
    cairo_t* cr = cairo_create(surface);
    bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;

    for (int index = 0; ok && index < info->pageCount; ++index) {
        const std::optional<DocumentStore::PageFrame> frame = store.pageFrame(index);
        if (!frame) continue;
        PageGeometry g;
        g.cw = frame->fullWidth * (frame->crop ? frame->crop->width : 1);
        g.ch = frame->fullHeight * (frame->crop ? frame->crop->height : 1);
        const auto found = layout.pages.find(index);
        const PageLayout* page = found != layout.pages.end() ? &found->second : nullptr;
        g.G = page ? g.ch * (1 + page->extra) : g.ch;
        g.k = page && page->pageWpx > 0 ? g.cw / page->pageWpx : 1;
        if (!(g.cw > 0 && g.ch > 0 && g.G > 0) || g.cw > maxPagePoints || g.G > maxPagePoints || !std::isfinite(g.k))
            continue;
        cairo_pdf_surface_set_size(surface, g.cw, g.G);
        cairo_save(cr);
        drawPageBands(cr, store, index, *frame, g, page);
        drawOverlays(cr, g, index, sidecar, includeMemos, layout, page, debugOut);
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
