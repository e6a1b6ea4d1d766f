#include "export/show_report_pdf.hpp"

#include <cairo-pdf.h>
#include <cairo.h>
#include <glib.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include "core/atomic_file.hpp"
#include "export/export_drawing.hpp"
#include "export/export_text.hpp"

namespace tallowmark {

namespace {

using export_drawing::FontPtr;

// A4 in points, with margins that survive any office printer's unprintable edge.
constexpr double pageWidth = 595.276, pageHeight = 841.89;
constexpr double margin = 42;
constexpr double contentWidth = pageWidth - 2 * margin;
constexpr double footerTop = pageHeight - 30;

constexpr const char* family = "Liberation Sans,DejaVu Sans,Sans";

// Texts an operator typed are cut before layout: a label may be any length.
constexpr std::size_t labelChars = 120;
constexpr std::size_t numberChars = 16;
// The acts table stops here; a performance cut into dozens of acts by a short
// interval length says the rest on one line.
constexpr int maxTableRows = 11;

struct Grey {
    double level;
};
constexpr Grey ink{0.08}, secondary{0.38}, rule{0.55}, bandFill{0.84}, stripe{0.945};

void setGrey(cairo_t* cr, Grey g) { cairo_set_source_rgb(cr, g.level, g.level, g.level); }

// The start of an operator's text as one printable line: line breaks and
// other control characters become spaces, broken UTF-8 is repaired, and an
// ellipsis says when something was cut. Reads at most a few bytes per kept
// character, so a huge label costs no more than a short one.
std::string printable(std::string_view text, std::size_t maxChars) {
    const std::size_t maxBytes = maxChars * 4;
    std::string head(text.substr(0, maxBytes));
    for (char& c : head) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) c = ' ';
    }
    gchar* valid = g_utf8_make_valid(head.data(), static_cast<gssize>(head.size()));
    std::string out = export_drawing::shortText(valid, maxChars);
    g_free(valid);
    if (text.size() > maxBytes && !out.ends_with("\u2026")) out += "\u2026";
    return out;
}

using DateTimePtr = std::unique_ptr<GDateTime, decltype(&g_date_time_unref)>;

// Local time of a Unix time in milliseconds; none outside the calendar's range.
DateTimePtr localTime(std::int64_t wallMs) {
    // Floor division, so that a time before 1970 still shows its own second.
    const std::int64_t seconds = wallMs / 1000 - (wallMs % 1000 < 0 ? 1 : 0);
    return DateTimePtr(g_date_time_new_from_unix_local(seconds), g_date_time_unref);
}

std::string formatted(const DateTimePtr& time, const char* format) {
    if (!time) return "\u2013";
    gchar* text = g_date_time_format(time.get(), format);
    std::string out = text ? text : "\u2013";
    g_free(text);
    return out;
}

std::string clockTime(std::int64_t wallMs) { return formatted(localTime(wallMs), "%H:%M:%S"); }

constexpr const char* monthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                      "July",    "August",   "September", "October", "November", "December"};

// "Tuesday 8 December 2026": English whatever the system's language, as the
// rest of the page is.
std::string longDate(std::int64_t wallMs) {
    static constexpr const char* days[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                           "Friday", "Saturday", "Sunday"};
    const DateTimePtr time = localTime(wallMs);
    if (!time) return "\u2013";
    const int day = g_date_time_get_day_of_week(time.get()), month = g_date_time_get_month(time.get());
    if (day < 1 || day > 7 || month < 1 || month > 12) return "\u2013";
    return std::string(days[day - 1]) + " " + std::to_string(g_date_time_get_day_of_month(time.get())) + " " +
           monthNames[month - 1] + " " + std::to_string(g_date_time_get_year(time.get()));
}

// "8 Dec", for clock ticks a day or more apart.
std::string shortDate(const DateTimePtr& time) {
    if (!time) return "\u2013";
    const int month = g_date_time_get_month(time.get());
    if (month < 1 || month > 12) return "\u2013";
    return std::to_string(g_date_time_get_day_of_month(time.get())) + " " +
           std::string(monthNames[month - 1]).substr(0, 3);
}

std::optional<long long> wholeSeconds(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return std::nullopt;
    return static_cast<long long>(std::llround(std::min(seconds, 9999.0 * 3600)));
}

// h:mm:ss
std::string duration(double seconds) {
    const auto s = wholeSeconds(seconds);
    if (!s) return "\u2013";
    char text[64];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", *s / 3600, *s / 60 % 60, *s % 60);
    return text;
}

// m:ss, as a held time is mostly seconds; minutes go past 59 (an act held
// through a long interval) and only past 999 does it turn to h:mm:ss.
std::string shortDuration(double seconds) {
    const auto s = wholeSeconds(seconds);
    if (!s) return "\u2013";
    if (*s >= 1000 * 60) return duration(seconds);
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld", *s / 60, *s % 60);
    return text;
}

// 19850 as "19,850".
std::string grouped(std::size_t n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string plural(std::size_t n, const char* one, const char* many) {
    return grouped(n) + " " + (n == 1 ? one : many);
}

enum class Align { left, right, center };

// One style of text on the page. User texts go in with pango_layout_set_text,
// never as markup, and are ellipsized to the width they are given.
class Pen {
public:
    Pen(cairo_t* cr, double size, PangoWeight weight = PANGO_WEIGHT_NORMAL, PangoStyle style = PANGO_STYLE_NORMAL)
        : cr_(cr), layout_(pango_cairo_create_layout(cr)), font_(export_drawing::font(family, weight, style, size)) {
        pango_layout_set_font_description(layout_, font_.get());
        pango_layout_set_single_paragraph_mode(layout_, TRUE);
        pango_layout_set_ellipsize(layout_, PANGO_ELLIPSIZE_END);
        // Figures of equal width and no kerning between them ("11"), so that
        // clock times stand in straight columns.
        PangoAttrList* attrs = pango_attr_list_new();
        pango_attr_list_insert(attrs, pango_attr_font_features_new("tnum 1, kern 0"));
        pango_layout_set_attributes(layout_, attrs);
        pango_attr_list_unref(attrs);
        PangoFontMetrics* metrics = pango_context_get_metrics(pango_layout_get_context(layout_), font_.get(), nullptr);
        ascent_ = pango_font_metrics_get_ascent(metrics) / double(PANGO_SCALE);
        pango_font_metrics_unref(metrics);
    }
    ~Pen() { g_object_unref(layout_); }
    Pen(const Pen&) = delete;
    Pen& operator=(const Pen&) = delete;

    double width(const std::string& text) {
        pango_layout_set_width(layout_, -1);
        pango_layout_set_text(layout_, text.c_str(), -1);
        PangoRectangle logical;
        pango_layout_get_extents(layout_, nullptr, &logical);
        return logical.width / double(PANGO_SCALE);
    }

    // Draws one line with its baseline at `baseline`, inside [x, x + room)
    // when room is positive.
    void draw(const std::string& text, double x, double baseline, double room = -1, Align align = Align::left,
              Grey grey = ink) {
        pango_layout_set_width(layout_, room > 0 ? static_cast<int>(room * PANGO_SCALE) : -1);
        pango_layout_set_alignment(layout_, align == Align::right    ? PANGO_ALIGN_RIGHT
                                            : align == Align::center ? PANGO_ALIGN_CENTER
                                                                     : PANGO_ALIGN_LEFT);
        pango_layout_set_text(layout_, text.c_str(), -1);
        setGrey(cr_, grey);
        cairo_move_to(cr_, x, baseline - ascent_);
        pango_cairo_show_layout(cr_, layout_);
    }

    // Numbers are never ellipsized: set right-aligned at `right`, whole.
    void drawRight(const std::string& text, double right, double baseline, Grey grey = ink) {
        draw(text, right - width(text), baseline, -1, Align::left, grey);
    }

private:
    cairo_t* cr_;
    PangoLayout* layout_;
    FontPtr font_;
    double ascent_ = 0;
};

void hairline(cairo_t* cr, double x1, double y, double x2, double width, Grey grey) {
    setGrey(cr, grey);
    cairo_set_line_width(cr, width);
    cairo_move_to(cr, x1, y);
    cairo_line_to(cr, x2, y);
    cairo_stroke(cr);
}

// The caption over each part of the page.
double sectionHeading(cairo_t* cr, const std::string& title, double top) {
    Pen pen(cr, 7.5, PANGO_WEIGHT_BOLD);
    pen.draw(title, margin, top + 8, contentWidth, Align::left, secondary);
    return top + 14;
}

struct Page {
    cairo_t* cr;
    const Performance& performance;
    const std::string& scriptName;  // already printable
    std::size_t number, count;
    std::int64_t intervalMinutes;
};

double drawHeading(const Page& page, double top) {
    cairo_t* cr = page.cr;
    const Performance& p = page.performance;
    Pen title(cr, 17, PANGO_WEIGHT_BOLD), which(cr, 10.5), line(cr, 10), note(cr, 9, PANGO_WEIGHT_BOLD);
    const std::string of = "Performance " + grouped(page.number) + " of " + grouped(page.count);
    const double ofWidth = which.width(of);
    which.draw(of, margin + contentWidth - ofWidth, top + 17, -1, Align::left, secondary);
    title.draw(page.scriptName.empty() ? "Show report" : page.scriptName, margin, top + 17,
               contentWidth - ofWidth - 16);
    const std::string facts = longDate(p.startWallMs) + "     " + clockTime(p.startWallMs) + " \u2013 " +
                              clockTime(p.endWallMs) + "     running time " + duration(p.runningSeconds);
    line.draw(facts, margin, top + 35, contentWidth);
    double bottom = top + 42;
    if (p.resumed) {
        note.draw("Resumed after a crash: the run was picked up where it stopped.", margin, top + 50, contentWidth);
        bottom = top + 56;
    }
    hairline(cr, margin, bottom, margin + contentWidth, 0.9, ink);
    return bottom + 12;
}

// The acts and intervals in order on the left, the counts on the right.
double drawSummary(const Page& page, double top) {
    cairo_t* cr = page.cr;
    const Performance& p = page.performance;
    top = sectionHeading(cr, "ACTS AND INTERVALS", top);
    Pen act(cr, 9.5, PANGO_WEIGHT_BOLD), interval(cr, 9.5, PANGO_WEIGHT_NORMAL, PANGO_STYLE_ITALIC), cell(cr, 9.5),
        small(cr, 7.5, PANGO_WEIGHT_NORMAL, PANGO_STYLE_ITALIC);
    constexpr double rowHeight = 13.5;
    constexpr double nameX = margin, spanX = margin + 62, lengthRight = margin + 222, cuesRight = margin + 290;

    const std::size_t acts = p.acts.size(), intervals = p.intervals.size();
    const std::size_t total = acts + intervals;
    const std::size_t shown = total > std::size_t(maxTableRows) ? maxTableRows - 1 : total;
    double y = top + 9;
    // Act, interval, act, ...; a list with more of one kind than the other
    // ends with the rest of it.
    std::size_t k = 0, row = 0;
    for (bool isAct = true; row < shown && (k < acts || k < intervals); isAct = !isAct) {
        const std::size_t i = k;
        if (!isAct) ++k;
        if (isAct ? i >= acts : i >= intervals) continue;
        const ReportSpan& span = isAct ? p.acts[i] : p.intervals[i];
        const std::string range = clockTime(span.startWallMs) + "\u2013" + clockTime(span.endWallMs);
        if (isAct) {
            act.draw("Act " + grouped(i + 1), nameX, y, spanX - nameX - 4);
            cell.draw(range, spanX, y, 110);
            cell.draw(duration(span.seconds), lengthRight - 60, y, 60, Align::right);
            cell.draw(plural(std::size_t(std::max(span.goCount, 0)), "cue", "cues"), cuesRight - 66, y, 66,
                      Align::right);
        } else {
            interval.draw("Interval", nameX, y, spanX - nameX - 4, Align::left, secondary);
            interval.draw(range, spanX, y, 110, Align::left, secondary);
            interval.draw(duration(span.seconds), lengthRight - 60, y, 60, Align::right, secondary);
        }
        y += rowHeight;
        ++row;
    }
    if (total == 0) {
        interval.draw("No acts recorded", nameX, y, 220, Align::left, secondary);
        y += rowHeight;
    } else if (shown < total) {
        interval.draw("\u2026 and " + plural(total - shown, "more act or interval", "more acts and intervals"), nameX,
                      y, 290, Align::left, secondary);
        y += rowHeight;
    }
    if (page.intervalMinutes > 0 && page.intervalMinutes <= 24 * 60) {
        small.draw("A pause of more than " + plural(std::size_t(page.intervalMinutes), "minute", "minutes") +
                       " between two GOs counts as an interval.",
                   nameX, y + 2, 290, Align::left, secondary);
        y += 12;
    }

    // The counts, as a ruled box to the right of the table.
    constexpr double boxX = margin + 330, boxW = contentWidth - 330;
    const struct {
        const char* name;
        std::size_t value;
    } counts[] = {
        {"Cues fired", p.cues.size()},
        {"BACKs", std::size_t(std::max(p.backs, 0))},
        {"Standby moves", std::size_t(std::max(p.standbys, 0))},
        {"GOs ignored by the guard", std::size_t(std::max(p.ignored, 0))},
    };
    double cy = top + 9;
    for (const auto& c : counts) {
        cell.draw(c.name, boxX + 8, cy, boxW - 70);
        act.draw(grouped(c.value), boxX + boxW - 68, cy, 60, Align::right);
        cy += rowHeight;
    }
    setGrey(cr, rule);
    cairo_set_line_width(cr, 0.6);
    cairo_rectangle(cr, boxX, top - 1, boxW, cy - top - 2);
    cairo_stroke(cr);
    return std::max(y, cy) + 10;
}

// Seconds between clock ticks: the first step that gives at most eight.
double tickStep(double spanSeconds) {
    static constexpr double steps[] = {1,   2,   5,    10,   15,   30,    60,    120,   300,
                                       600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400};
    for (double step : steps)
        if (spanSeconds / step <= 8) return step;
    double step = 86400;
    while (spanSeconds / step > 8 && step < 1e15) step *= 2;
    return step;
}

// The performance across the page: acts as shaded bands, intervals as gaps
// with their length, a thin tick per GO, the clock below.
double drawTimeline(const Page& page, double top) {
    cairo_t* cr = page.cr;
    const Performance& p = page.performance;
    top = sectionHeading(cr, "TIMELINE", top);
    Pen label(cr, 7.5, PANGO_WEIGHT_BOLD), gapText(cr, 7.5, PANGO_WEIGHT_NORMAL, PANGO_STYLE_ITALIC), clock(cr, 7);

    // Times in seconds from the first GO. A performance of one GO, or one
    // whose wall clock was set back, is drawn over a minute around its start.
    const double start = double(p.startWallMs) / 1000;
    double from = 0, to = std::max(0.0, (double(p.endWallMs) - double(p.startWallMs)) / 1000);
    if (!std::isfinite(to) || to < 60) {
        const double pad = (60 - (std::isfinite(to) ? to : 0)) / 2;
        from -= pad;
        to = (std::isfinite(to) ? to : 0) + pad;
    }
    const double x0 = margin + 2, width = contentWidth - 4;
    const auto xOf = [&](std::int64_t wallMs) {
        const double x = x0 + ((double(wallMs) - double(p.startWallMs)) / 1000 - from) / (to - from) * width;
        return std::isfinite(x) ? std::clamp(x, x0, x0 + width) : x0;
    };

    const double labelBaseline = top + 8, bandTop = top + 12, bandHeight = 34, bandBottom = bandTop + bandHeight;

    // Acts: neighbours closer than half a point are one band, so that a
    // performance cut into thousands of acts still draws a few hundred.
    setGrey(cr, bandFill);
    double runStart = -1, runEnd = -1;
    const auto flush = [&] {
        if (runStart < 0) return;
        cairo_rectangle(cr, runStart, bandTop, runEnd - runStart, bandHeight);
        runStart = -1;
    };
    for (const ReportSpan& act : p.acts) {
        double a = xOf(act.startWallMs), b = std::max(a, xOf(act.endWallMs));
        if (b - a < 1.5) {
            const double mid = (a + b) / 2;
            a = std::max(x0, mid - 0.75);
            b = std::min(x0 + width, mid + 0.75);
        }
        if (runStart >= 0 && a <= runEnd + 0.5) {
            runEnd = std::max(runEnd, b);
            continue;
        }
        flush();
        runStart = a;
        runEnd = b;
    }
    flush();
    cairo_fill_preserve(cr);
    setGrey(cr, secondary);
    cairo_set_line_width(cr, 0.5);
    cairo_stroke(cr);

    // One tick per GO; ticks that fall in the same half point are one.
    const int columns = static_cast<int>(width * 2) + 1;
    std::vector<bool> ticked(static_cast<std::size_t>(columns), false);
    for (const ReportCue& cue : p.cues) {
        const int column = static_cast<int>((xOf(cue.wallMs) - x0) * 2);
        ticked[static_cast<std::size_t>(std::clamp(column, 0, columns - 1))] = true;
    }
    setGrey(cr, ink);
    cairo_set_line_width(cr, 0.35);
    for (int column = 0; column < columns; ++column) {
        if (!ticked[std::size_t(column)]) continue;
        const double x = x0 + column / 2.0 + 0.25;
        cairo_move_to(cr, x, bandTop + 9);
        cairo_line_to(cr, x, bandBottom);
    }
    cairo_stroke(cr);

    // Labels above the bands, left to right, none over another: measuring
    // stops being needed once a label would start inside the one before.
    double labelRight = -1e9;
    for (std::size_t i = 0; i < p.acts.size(); ++i) {
        const double a = xOf(p.acts[i].startWallMs);
        if (a < labelRight + 6) continue;
        const std::string text = "Act " + grouped(i + 1);
        const double w = label.width(text);
        const double x = std::min(a, x0 + width - w);
        if (x < labelRight + 6) continue;
        label.draw(text, x, labelBaseline);
        labelRight = x + w;
    }

    // Intervals: a dimension line across the gap with the length on it.
    for (const ReportSpan& gap : p.intervals) {
        const double a = xOf(gap.startWallMs), b = xOf(gap.endWallMs);
        if (b - a < 14) continue;
        const double mid = bandTop + bandHeight / 2;
        std::string text = "Interval " + duration(gap.seconds);
        double w = gapText.width(text);
        if (w > b - a - 6) {
            text = duration(gap.seconds);
            w = gapText.width(text);
        }
        setGrey(cr, secondary);
        cairo_set_line_width(cr, 0.5);
        cairo_move_to(cr, a + 1.5, mid - 3);
        cairo_line_to(cr, a + 1.5, mid + 3);
        cairo_move_to(cr, b - 1.5, mid - 3);
        cairo_line_to(cr, b - 1.5, mid + 3);
        if (w <= b - a - 6) {
            const double gapLeft = (a + b - w) / 2 - 3, gapRight = (a + b + w) / 2 + 3;
            cairo_move_to(cr, a + 1.5, mid);
            cairo_line_to(cr, gapLeft, mid);
            cairo_move_to(cr, gapRight, mid);
            cairo_line_to(cr, b - 1.5, mid);
            cairo_stroke(cr);
            gapText.draw(text, (a + b - w) / 2, mid + 2.6, -1, Align::left, ink);
        } else {
            cairo_move_to(cr, a + 1.5, mid);
            cairo_line_to(cr, b - 1.5, mid);
            cairo_stroke(cr);
        }
    }

    // The clock: ticks on whole local minutes (or seconds, hours) at a step
    // that gives a handful.
    const double axisY = bandBottom + 3;
    hairline(cr, x0, axisY, x0 + width, 0.6, ink);
    const DateTimePtr first = localTime(p.startWallMs);
    const double offset = first ? double(g_date_time_get_utc_offset(first.get())) / G_USEC_PER_SEC : 0;
    const double step = tickStep(to - from);
    const double absoluteFrom = start + from + offset;
    double tick = std::ceil(absoluteFrom / step) * step;
    const char* format = step < 60 ? "%H:%M:%S" : "%H:%M";
    double clockRight = -1e9;
    for (int n = 0; n < 40 && std::isfinite(tick) && tick - absoluteFrom <= to - from + 1e-6; ++n, tick += step) {
        const double x = x0 + (tick - absoluteFrom) / (to - from) * width;
        setGrey(cr, ink);
        cairo_set_line_width(cr, 0.6);
        cairo_move_to(cr, x, axisY);
        cairo_line_to(cr, x, axisY + 3.5);
        cairo_stroke(cr);
        const double wallSeconds = tick - offset;
        if (std::fabs(wallSeconds) > 1e14) continue;
        const DateTimePtr when = localTime(static_cast<std::int64_t>(wallSeconds) * 1000);
        const std::string text = step < 86400 ? formatted(when, format) : shortDate(when);
        const double w = clock.width(text);
        const double lx = std::clamp(x - w / 2, x0 - 2, x0 + width + 2 - w);
        if (lx < clockRight + 4) continue;
        clock.draw(text, lx, axisY + 11.5, -1, Align::left, secondary);
        clockRight = lx + w;
    }
    return axisY + 24;
}

// Every cue that fits, down the columns in order, each act begun by its name.
void drawCues(const Page& page, double top) {
    cairo_t* cr = page.cr;
    const Performance& p = page.performance;
    top = sectionHeading(cr, "CUES", top);
    Pen head(cr, 6.5, PANGO_WEIGHT_BOLD), cell(cr, 6.5), actName(cr, 6.8, PANGO_WEIGHT_BOLD),
        more(cr, 8, PANGO_WEIGHT_NORMAL, PANGO_STYLE_ITALIC);

    constexpr double gutter = 12, leading = 8.3, pad = 3.5, figureGap = 6;
    const double moreBaseline = footerTop - 8;
    const double firstBaseline = top + 8 + leading;
    const int rows = std::max(0, static_cast<int>((moreBaseline - 14 - firstBaseline) / leading) + 1);
    const bool namedActs = p.acts.size() > 1;

    // Two wide columns when every cue fits in them, else three narrower ones;
    // counting stops as soon as two are too few.
    std::size_t needed = 0;
    int lastAct = -1;
    for (std::size_t i = 0; i < p.cues.size() && needed <= 2 * std::size_t(rows); ++i) {
        if (namedActs && p.cues[i].act != lastAct) needed += 2;  // the name, and a row it may skip
        lastAct = p.cues[i].act;
        ++needed;
    }
    const int columnCount = needed <= 2 * std::size_t(rows) ? 2 : 3;
    const double columnWidth = (contentWidth - gutter * (columnCount - 1)) / columnCount;
    const std::size_t capacity = std::size_t(rows) * std::size_t(columnCount);
    // Within a column: number, label, clock time, time into the performance,
    // held; the times are measured so that they are never cut, the label
    // takes what is left.
    const double numberW = std::max(cell.width("000.5"), 18.0), clockW = cell.width("00:00:00"),
                 intoW = cell.width("0:00:00"), heldW = cell.width("000:00");
    const double labelW = std::max(columnWidth - numberW - clockW - intoW - heldW - 2 * pad - 2 * figureGap, 10.0);

    const auto columnX = [&](std::size_t slot) {
        return margin + double(slot / std::size_t(rows)) * (columnWidth + gutter);
    };
    const auto baselineOf = [&](std::size_t slot) {
        return firstBaseline + double(slot % std::size_t(rows)) * leading;
    };

    const auto drawHeader = [&](double x) {
        const double baseline = top + 8;
        head.draw("Cue", x, baseline, numberW, Align::left, secondary);
        head.draw("Label", x + numberW + pad, baseline, labelW, Align::left, secondary);
        const double clockRight = x + numberW + labelW + clockW + 2 * pad;
        head.drawRight("Clock", clockRight, baseline, secondary);
        head.drawRight("Into", clockRight + figureGap + intoW, baseline, secondary);
        head.drawRight("Held", x + columnWidth, baseline, secondary);
        hairline(cr, x, top + 10.5, x + columnWidth, 0.5, rule);
    };

    if (p.cues.empty() || rows == 0) {
        if (rows > 0) cell.draw("No cues fired.", margin, firstBaseline, contentWidth, Align::left, secondary);
        return;
    }

    std::size_t slot = 0, shown = 0;
    int act = -1;
    bool striped = false;
    for (const ReportCue& cue : p.cues) {
        if (slot >= capacity) break;
        if (namedActs && cue.act != act) {
            // An act's name never ends a column without a cue under it.
            if (slot % std::size_t(rows) == std::size_t(rows) - 1) ++slot;
            if (slot + 1 >= capacity) break;
            if (slot % std::size_t(rows) == 0) drawHeader(columnX(slot));
            actName.draw("Act " + std::to_string(static_cast<long long>(cue.act) + 1), columnX(slot), baselineOf(slot),
                         columnWidth);
            ++slot;
            act = cue.act;
            striped = false;
        }
        const double x = columnX(slot), y = baselineOf(slot);
        if (slot % std::size_t(rows) == 0) {
            drawHeader(x);
            striped = false;
        }
        if (striped) {
            setGrey(cr, stripe);
            cairo_rectangle(cr, x, y - leading + 2.1, columnWidth, leading);
            cairo_fill(cr);
        }
        striped = !striped;
        cell.draw(printable(cue.number, numberChars), x, y, numberW);
        cell.draw(printable(cue.label, labelChars), x + numberW + pad, y, labelW);
        const double clockRight = x + numberW + labelW + clockW + 2 * pad;
        cell.drawRight(clockTime(cue.wallMs), clockRight, y);
        cell.drawRight(duration(cue.atSeconds), clockRight + figureGap + intoW, y);
        if (&cue != &p.cues.back()) cell.drawRight(shortDuration(cue.heldSeconds), x + columnWidth, y);
        ++slot;
        ++shown;
    }
    if (shown < p.cues.size())
        more.draw("\u2026 and " + plural(p.cues.size() - shown, "more cue", "more cues") +
                      " \u2014 the CSV export has every cue",
                  margin, moreBaseline, contentWidth, Align::left, ink);
}

void drawFooter(const Page& page) {
    Pen pen(page.cr, 7);
    hairline(page.cr, margin, footerTop, margin + contentWidth, 0.5, rule);
    const std::string which = "Page " + grouped(page.number) + " of " + grouped(page.count);
    const double w = pen.width(which);
    pen.draw("Show report \u00b7 " + (page.scriptName.empty() ? std::string("untitled") : page.scriptName), margin,
             footerTop + 10, contentWidth - w - 16, Align::left, secondary);
    pen.draw(which, margin + contentWidth - w, footerTop + 10, -1, Align::left, secondary);
}

void drawPage(const Page& page) {
    double y = drawHeading(page, margin - 6);
    y = drawSummary(page, y);
    y = drawTimeline(page, y);
    drawCues(page, y);
    drawFooter(page);
}

}  // namespace

bool writeShowReportPDF(std::span<const Performance> performances, const std::string& scriptName,
                        std::int64_t intervalMinutes, const std::filesystem::path& to, std::string* why) {
    const auto fail = [&](std::string reason) {
        if (why) *why = std::move(reason);
        return false;
    };
    if (performances.empty()) return fail("No performances to print");
    if (performances.size() > maxReportPages)
        return fail("Too many performances to print (" + grouped(performances.size()) + "); the most is " +
                    grouped(maxReportPages));
    if (to.empty()) return fail("No file to write the report to");

    const std::string name = printable(scriptName, labelChars);
    std::string bytes;
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(export_drawing::appendToBuffer, &bytes, pageWidth, pageHeight);
    const std::string title = name.empty() ? "Show report" : "Show report \u2013 " + name;
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, title.c_str());
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, "TALLOWMARK");
    cairo_t* cr = cairo_create(surface);
    cairo_status_t status = cairo_status(cr);
    for (std::size_t i = 0; status == CAIRO_STATUS_SUCCESS && i < performances.size(); ++i) {
        drawPage({cr, performances[i], name, i + 1, performances.size(), intervalMinutes});
        cairo_show_page(cr);
        status = cairo_status(cr);
    }
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS)
        return fail(std::string("The report could not be drawn: ") + cairo_status_to_string(status));

    std::string error;
    if (!writeFileAtomically(to, bytes, &error))
        return fail("Could not write " + to.filename().string() + ": " + (error.empty() ? "unknown error" : error));
    return true;
}

}  // namespace tallowmark
