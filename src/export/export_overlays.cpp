#include "export/export_overlays.hpp"

#include <glib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "export/export_text.hpp"
#include "export/markup_exporter.hpp"

namespace tallowmark::export_drawing {

namespace {

const char* const defaultMarkColor = "#d8391d";
const char* const defaultFlagColor = "#2f6fd0";
const char* const cutLineColor = "#3a4a86";
const char* const memoTextColor = "#241f10";

// Tags (region tabs, flag chips) are set at this many measured pixels.
constexpr double tagFontPx = 12;
// Hostile layouts aside, no label or inserted line has this many rows or
// characters in a row on a page; a broken one draws no more.
constexpr std::size_t maxDrawnRows = 256;
constexpr std::size_t maxDrawnRowChars = 4096;

// The rows of a text that can show in a clip of this height, each cut to
// what can show across this width: only the start of the text is read.
std::vector<std::string> shownRows(const std::string& text, double width, double height, double lineAdvance,
                                   double fontSize) {
    const double rows = lineAdvance > 0 ? std::ceil(height / lineAdvance) + 1 : double(maxDrawnRows);
    const std::size_t maxRows =
        std::isfinite(rows) ? std::clamp<std::size_t>(static_cast<std::size_t>(std::max(rows, 1.0)), 1, maxDrawnRows)
                            : maxDrawnRows;
    const std::size_t maxChars = std::min(visibleChars(width, 0, fontSize).chars, maxDrawnRowChars);
    std::vector<std::string> lines = splitLines(text, maxRows);
    for (std::string& line : lines) line = std::string(visiblePrefix(line, maxChars).text);
    return lines;
}

// The page's measured width in px, as the page counted tag characters.
double pageWidthPx(const PageGeometry& g) { return g.croppedWidth / g.pointsPerPixel; }

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
            cairo_move_to(cr, r.x - 2 * g.pointsPerPixel, mid);
            cairo_line_to(cr, r.right() + 2 * g.pointsPerPixel, mid);
            setColor(cr, cutColor, 1);
            cairo_set_line_width(cr, 2 * g.pointsPerPixel);
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

using TagLines = std::vector<std::pair<std::string, const PangoFontDescription*>>;

// A rounded, filled tag with white lines: a region's tab and a flag's chip.
// Each entry is a line of text in its own font.
void drawTag(cairo_t* cr, const PageGeometry& g, double x, double top, const Rgba& color, const TagLines& lines) {
    const double tagFontSize = tagFontPx * g.pointsPerPixel;
    const double tagLineHeight = 1.25 * tagFontSize;
    std::vector<std::unique_ptr<TextRun>> runs;
    double widest = 0;
    for (const auto& [text, desc] : lines) {
        runs.push_back(std::make_unique<TextRun>(cr, desc));
        widest = std::max(widest, runs.back()->width(text));
    }
    const double width = tagFontSize + widest;
    const double height = 0.5 * tagFontSize + tagLineHeight * lines.size();
    const Box tag{MarkupExporter::chipOriginX(x, width, g.croppedWidth, 2 * g.pointsPerPixel), top, width, height};
    if (!tag.sane()) return;
    roundedRect(cr, tag, 3);
    setColor(cr, color, color.a);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const double lineTop = tag.y + 0.25 * tagFontSize + tagLineHeight * i;
        const double baseline = lineTop + (tagLineHeight - runs[i]->lineHeight()) / 2 + runs[i]->ascent();
        runs[i]->draw(lines[i].first, tag.x + 0.5 * tagFontSize, baseline);
    }
}

void drawRegions(cairo_t* cr, const PageGeometry& g, const CueSidecar& sidecar, std::int64_t pageIndex) {
    for (const Mark& mark : sidecar.marks) {
        if (mark.page != pageIndex || mark.kind != "region") continue;
        const Box r = g.rect(mark.x, mark.y, mark.w, mark.h);
        if (!r.sane()) continue;
        const Rgba color = MarkupExporter::hexColor(mark.color, defaultMarkColor);
        const Box inner = r.grown(-g.pointsPerPixel);
        cairo_rectangle(cr, inner.x, inner.y, std::max(inner.w, 0.0), std::max(inner.h, 0.0));
        setColor(cr, color, 1);
        cairo_set_line_width(cr, 2 * g.pointsPerPixel);
        cairo_stroke(cr);
        if (mark.text.empty()) continue;
        const FontPtr medium =
            font("monospace", PANGO_WEIGHT_MEDIUM, PANGO_STYLE_NORMAL, 0.82 * tagFontPx * g.pointsPerPixel);
        const std::string tab = shortText(mark.text, tagChars(pageWidthPx(g), 0.82 * tagFontPx));
        drawTag(cr, g, r.x, r.y, color, {{tab, medium.get()}});
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
        const char* const blanks = " \t\r\n\v\f";
        const std::size_t first = memo.text.find_first_not_of(blanks);
        if (first == std::string::npos) continue;
        const Box inner = r.grown(-3);
        if (inner.w <= 0 || inner.h <= 0) continue;
        const double size = std::max(std::min(0.22 * g.grownHeight * memo.h, 11.0), 6.0);
        // Only what the box can show is laid out: the rest lies past its edges.
        const VisibleRoom room = visibleChars(inner.w, inner.h, size);
        const std::string text =
            trimmed(std::string(visiblePrefix(std::string_view(memo.text).substr(first), room.chars, room.lines).text),
                    blanks);
        const FontPtr desc = font("sans", PANGO_WEIGHT_MEDIUM, PANGO_STYLE_NORMAL, size);
        drawWrappedText(cr, text, desc.get(), inner, textColor);
    }
}

void drawFlags(cairo_t* cr, const PageGeometry& g, const CueSidecar& sidecar, std::int64_t pageIndex) {
    const double tagFontSize = tagFontPx * g.pointsPerPixel;
    const FontPtr bold = font("monospace", PANGO_WEIGHT_BOLD, PANGO_STYLE_NORMAL, tagFontSize);
    const FontPtr medium = font("monospace", PANGO_WEIGHT_MEDIUM, PANGO_STYLE_NORMAL, 0.82 * tagFontSize);
    for (const Flag& flag : sidecar.flags) {
        if (flag.page != pageIndex) continue;
        const double x = g.croppedWidth * flag.x, y = g.grownHeight * flag.y;
        if (!Box{x, y, 0, 0}.sane()) continue;
        TagLines lines;
        const std::string role = shortText(trimmed(flag.role, " "), tagChars(pageWidthPx(g), tagFontPx));
        if (!role.empty()) lines.emplace_back(role, bold.get());
        if (!flag.text.empty())
            lines.emplace_back(shortText(flag.text, tagChars(pageWidthPx(g), 0.82 * tagFontPx)), medium.get());
        if (lines.empty()) lines.emplace_back("\u2022", bold.get());
        drawTag(cr, g, x, y, MarkupExporter::hexColor(flag.color, defaultFlagColor), lines);
    }
}

// cairo has no blurred shadow, so the glow is built by hand: the box grown by
// two pixels filled solid, then rings of falling alpha out to the blur
// distance, all clipped (even-odd) to outside the box so that only the glow
// around it shows.
void drawCueGlow(cairo_t* cr, const Box& b, double radius, double pointsPerPixel, const Rgba& c) {
    const double blur = 12 * pointsPerPixel;
    cairo_save(cr);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    const Box outer = b.grown(40);
    cairo_rectangle(cr, outer.x, outer.y, outer.w, outer.h);
    roundedRect(cr, b, radius);
    cairo_clip(cr);
    roundedRect(cr, b.grown(2 * pointsPerPixel), radius + 2 * pointsPerPixel);
    setColor(cr, c, 0.3);
    cairo_fill(cr);
    constexpr int rings = 6;
    const double step = blur / rings;
    for (int i = 0; i < rings && step > 0; ++i) {
        const double fade = 1.0 - (i + 1.0) / (rings + 1.0);
        const double grow = 2 * pointsPerPixel + step * (i + 0.5);
        roundedRect(cr, b.grown(grow), radius + grow);
        setColor(cr, c, 0.3 * fade * fade);
        cairo_set_line_width(cr, step);
        cairo_stroke(cr);
    }
    cairo_restore(cr);
}

void drawCueBoxes(cairo_t* cr, const PageGeometry& g, const Layout& layout, const PageLayout& page) {
    const double pointsPerPixel = g.pointsPerPixel;
    for (const CueBox& cue : page.cues) {
        const Rgba c = MarkupExporter::hexColor(cue.color, defaultMarkColor);
        const Box r = g.rect(cue.x, cue.dy, cue.w, cue.dh);
        const Box b{r.x - pointsPerPixel * cue.padL, r.y, r.w + pointsPerPixel * cue.padL + pointsPerPixel * cue.padR,
                    r.h};
        const double radius = pointsPerPixel * layout.markRadiusPx;
        if (!b.sane() || !std::isfinite(radius)) continue;

        drawCueGlow(cr, b, radius, pointsPerPixel, c);

        roundedRect(cr, b, radius);
        setColor(cr, c, 0.3);
        cairo_fill(cr);

        roundedRect(cr, b.grown(0.5 * pointsPerPixel), radius + 0.5 * pointsPerPixel);
        cairo_set_line_width(cr, pointsPerPixel);
        cairo_stroke(cr);

        // The outline's centre line lies half its width plus the cue's own
        // offset outside the box.
        const double outlineGrow = 0.5 * pointsPerPixel * layout.outlineWPx + pointsPerPixel * cue.outlineOffset;
        if (!std::isfinite(outlineGrow) || std::fabs(outlineGrow) > maxCoordinate) continue;
        roundedRect(cr, b.grown(outlineGrow), radius + outlineGrow);
        setColor(cr, c, 0.72);
        cairo_set_line_width(cr, pointsPerPixel * layout.outlineWPx);
        cairo_stroke(cr);
    }
}

void drawInserts(cairo_t* cr, const PageGeometry& g, const Layout& layout, const PageLayout& page) {
    for (const InsertBox& insert : page.inserts) {
        const Box r = g.rect(insert.x, insert.dy, insert.w, insert.dh);
        // The script's own line height, on the page before it grew.
        const double lineHeight = (g.grownHeight / (1 + page.extra)) * insert.lineH;
        const double size = layout.insertFontK * lineHeight;
        const double lineAdvance = layout.insertLineK * lineHeight;
        const double extraLeading = (layout.insertLineK - 1) * lineHeight;
        if (!r.sane() || !std::isfinite(lineAdvance) || !std::isfinite(extraLeading) || !(size > 0) ||
            size > maxFontPoints)
            continue;
        const FontPtr desc = font("Liberation Serif,serif", PANGO_WEIGHT_NORMAL, PANGO_STYLE_ITALIC, size);
        TextRun run(cr, desc.get());
        cairo_save(cr);
        cairo_rectangle(cr, r.x, r.y - extraLeading / 2, r.w, r.h + extraLeading);
        cairo_clip(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        const std::vector<std::string> lines = shownRows(insert.text, r.w, r.h + extraLeading, lineAdvance, size);
        for (std::size_t j = 0; j < lines.size(); ++j) {
            const double baseline = r.y - extraLeading / 2 + run.ascent() + (lineAdvance - run.lineHeight()) / 2 +
                                    lineAdvance * j;
            if (baseline - lineAdvance > r.bottom() + extraLeading) break;  // below the clip: nothing more shows
            run.draw(lines[j], r.x + 2 * g.pointsPerPixel, baseline);
        }
        cairo_restore(cr);
    }
}

// The thin line from a cue box to its label in the gutter.
void drawLeader(cairo_t* cr, const PageGeometry& g, const std::array<double, 4>& ends, const Rgba& color) {
    const Box from = g.rect(ends[0], ends[1], 0, 0);
    const Box to = g.rect(ends[2], ends[3], 0, 0);
    if (!from.sane() || !to.sane()) return;
    cairo_move_to(cr, from.x, from.y);
    cairo_line_to(cr, to.x, to.y);
    setColor(cr, color, 0.55);
    cairo_set_line_width(cr, g.pointsPerPixel);
    cairo_stroke(cr);
}

// The label's measures, for comparing the export with the screen.
void reportLabel(std::FILE* debugOut, const PageGeometry& g, const Layout& layout, std::int64_t pageIndex,
                 const Label& label, const Box& b, TextRun& run, const std::string& longest,
                 const std::string& fontName) {
    // A line feed inside the text would break the two-lines-per-label form
    // the measurements are read in; it is shown escaped.
    std::string shown;
    for (char c : label.text) shown += c == '\n' ? std::string("\\n") : std::string(1, c);
    const double native = (2 * g.pointsPerPixel * layout.labelPadX + run.width(longest)) / g.pointsPerPixel;
    std::fprintf(debugOut, "sivu %lld selite '%s': ruutu %.1f px, natiivi %.1f px (%s)\n",
                 static_cast<long long>(pageIndex + 1), shown.c_str(), label.measuredWpx, native, fontName.c_str());
    std::fprintf(debugOut, "  laatikko x %.2f y %.2f w %.2f h %.2f pt (dy %.5f dh %.5f, grownH %.2f)\n", b.x, b.y,
                 b.w, b.h, label.dy, label.dh, g.grownHeight);
}

void drawLabels(cairo_t* cr, const PageGeometry& g, const Layout& layout, const PageLayout& page,
                std::int64_t pageIndex, std::FILE* debugOut) {
    const double pointsPerPixel = g.pointsPerPixel;
    const double labelSize = pointsPerPixel * page.labelFontPx.value_or(layout.labelFontPx);
    if (!(labelSize > 0) || labelSize > maxFontPoints) return;
    const FontPtr desc = labelFont(labelSize, layout);
    TextRun run(cr, desc.get(), 0.03 * labelSize);
    const std::string fontName = debugOut ? run.resolvedFamily() : std::string();
    const double labelLineHeight = labelSize * layout.labelLineH;
    const double padX = pointsPerPixel * layout.labelPadX;
    for (const Label& label : page.labels) {
        const Box r = g.rect(label.x, label.dy, label.w, label.dh);
        const Box b{r.x - pointsPerPixel * label.padL, r.y, r.w, r.h};
        if (!b.sane() || !std::isfinite(labelLineHeight)) continue;
        const Rgba color = MarkupExporter::hexColor(label.color, defaultMarkColor);
        if (label.leader) drawLeader(cr, g, *label.leader, color);
        // A label in the gutter stands on paper of its own, framed in its
        // cue's colour, as the page shows it.
        if (page.gutter.px > 0) {
            roundedRect(cr, b, 3 * pointsPerPixel);
            cairo_set_source_rgb(cr, 1, 1, 1);
            cairo_fill_preserve(cr);
            setColor(cr, color, 1);
            cairo_set_line_width(cr, pointsPerPixel);
            cairo_stroke(cr);
        }
        // The clip never reaches past the page's edge, and the rows below the
        // box are clipped away: only what can show is laid out.
        const std::vector<std::string> lines =
            shownRows(label.text, std::max(g.croppedWidth - b.x, b.w),
                      b.h + std::fabs(pointsPerPixel * layout.labelPadY), labelLineHeight, labelSize);
        double widest = 0;
        const std::string* longest = &lines.front();
        glong longestChars = -1;
        for (const std::string& line : lines) {
            widest = std::max(widest, run.width(line));
            const glong chars = g_utf8_strlen(line.c_str(), static_cast<gssize>(line.size()));
            if (chars > longestChars) longest = &line, longestChars = chars;
        }
        if (debugOut) reportLabel(debugOut, g, layout, pageIndex, label, b, run, *longest, fontName);
        const double offset = lines.size() < 2 ? b.y + (b.h - labelLineHeight * lines.size()) / 2
                                               : b.y + pointsPerPixel * layout.labelPadY;
        // The clip reaches as far right as the text needs, never past the page
        // edge, and never narrower than the box.
        // A label in the gutter keeps to its box.
        const double clipW =
            page.gutter.px > 0
                ? b.w
                : std::max(std::min(std::max(b.x + 2 * padX + widest, b.right()), g.croppedWidth) - b.x, b.w);
        cairo_save(cr);
        cairo_rectangle(cr, b.x, b.y, clipW, b.h);
        cairo_clip(cr);
        setColor(cr, color, 1);
        for (std::size_t j = 0; j < lines.size(); ++j) {
            const double baseline =
                offset + labelLineHeight * j + (labelLineHeight - run.lineHeight()) / 2 + run.ascent();
            run.draw(lines[j], b.x + padX, baseline);
        }
        cairo_restore(cr);
    }
}

}  // namespace

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

}  // namespace tallowmark::export_drawing
