#include "export/export_layout.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tallowmark {

namespace {

// A number only when the JSON value is a finite number; text never counts.
std::optional<double> num(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_number()) return std::nullopt;
    const double value = it->get<double>();
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

// Truncated toward zero; none outside the signed 64-bit range, which could not
// be represented and must not be clamped into a different page or row count.
std::optional<std::int64_t> integer(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_number()) return std::nullopt;
    if (it->is_number_unsigned()) {
        const auto u = it->get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(u);
    }
    if (it->is_number_integer()) return it->get<std::int64_t>();
    const double d = std::trunc(it->get<double>());
    constexpr double limit = 9223372036854775808.0;  // 2^63
    if (!std::isfinite(d) || d < -limit || d >= limit) return std::nullopt;
    return static_cast<std::int64_t>(d);
}

std::string text(const Json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// Reads the required numbers in one go; false when any is missing.
bool required(const Json& object, std::initializer_list<std::pair<const char*, double*>> fields) {
    for (const auto& [key, out] : fields) {
        const auto value = num(object, key);
        if (!value) return false;
        *out = *value;
    }
    return true;
}

// The entries of a list that read; a list that is not a list reads as empty.
template <class T, class Read>
std::vector<T> entries(const Json& page, const char* key, Read read) {
    std::vector<T> out;
    auto it = page.find(key);
    if (it == page.end() || !it->is_array()) return out;
    for (const Json& element : *it) {
        if (!element.is_object()) continue;
        T item{};
        if (read(element, item)) out.push_back(std::move(item));
    }
    return out;
}

bool readGap(const Json& o, Gap& g) { return required(o, {{"afterY", &g.afterY}, {"height", &g.height}}); }

bool readHRow(const Json& o, HRow& r) {
    return required(o, {{"top", &r.top}, {"bottom", &r.bottom}, {"x0", &r.x0}, {"x1", &r.x1}, {"dL", &r.dL},
                        {"dR", &r.dR}});
}

bool readCueBox(const Json& o, CueBox& c) {
    c.id = text(o, "id");
    c.color = text(o, "color");
    return required(o, {{"x", &c.x}, {"w", &c.w}, {"dy", &c.dy}, {"dh", &c.dh}, {"padL_px", &c.padL},
                        {"padR_px", &c.padR}, {"outlineOffset_px", &c.outlineOffset}});
}

bool readLabel(const Json& o, Label& l) {
    l.id = text(o, "id");
    l.text = text(o, "text");
    l.color = text(o, "color");
    if (!required(o, {{"x", &l.x}, {"w", &l.w}, {"dy", &l.dy}, {"dh", &l.dh}, {"padL_px", &l.padL}})) return false;
    if (o.contains("rows")) {
        const auto rows = integer(o, "rows");
        if (rows) l.rows = *rows;
        else if (o["rows"].is_number()) return false;  // beyond 64 bits: not accepted as is
    }
    l.measuredWpx = num(o, "measuredWpx").value_or(0);
    // A leader with a number missing or not finite is not drawn; the label is.
    if (auto it = o.find("leader"); it != o.end() && it->is_array() && it->size() == 4) {
        std::array<double, 4> ends{};
        bool whole = true;
        for (std::size_t i = 0; i < 4 && whole; ++i) {
            const Json& v = (*it)[i];
            whole = v.is_number() && std::isfinite(v.get<double>());
            if (whole) ends[i] = v.get<double>();
        }
        if (whole) l.leader = ends;
    }
    return true;
}

// No gutter for anything but a side and a width between none and four page
// widths: a damaged one must not make a page the reader cannot show.
Gutter readGutter(const Json& page, double pageWpx) {
    auto it = page.find("gutter");
    if (it == page.end() || !it->is_object()) return {};
    const auto px = num(*it, "px");
    const std::string side = text(*it, "side");
    if (!px || *px <= 0 || !(pageWpx > 0) || *px > 4 * pageWpx || (side != "left" && side != "right")) return {};
    return {side == "left", *px};
}

bool readMarkBox(const Json& o, MarkBox& m) {
    m.kind = text(o, "kind");
    return required(o, {{"x", &m.x}, {"w", &m.w}, {"dy", &m.dy}, {"dh", &m.dh}});
}

bool readInsertBox(const Json& o, InsertBox& b) {
    b.text = text(o, "text");
    if (!required(o, {{"x", &b.x}, {"w", &b.w}, {"dy", &b.dy}, {"dh", &b.dh}, {"lineH", &b.lineH}})) return false;
    if (o.contains("rows")) {
        const auto rows = integer(o, "rows");
        if (!rows && o["rows"].is_number()) return false;
        if (rows) b.rows = std::max<std::int64_t>(*rows, 1);
    }
    return true;
}

}  // namespace

std::optional<Layout> Layout::fromJson(const Json& object) {
    if (!object.is_object()) return std::nullopt;
    Layout layout;
    if (!required(object, {{"labelFontPx", &layout.labelFontPx},
                           {"labelLineH", &layout.labelLineH},
                           {"labelPadX_px", &layout.labelPadX},
                           {"labelPadY_px", &layout.labelPadY}}))
        return std::nullopt;
    auto pages = object.find("pages");
    if (pages == object.end() || !pages->is_array()) return std::nullopt;
    for (const Json& page : *pages) {
        if (!page.is_object()) return std::nullopt;
    }

    layout.markRadiusPx = num(object, "markRadius_px").value_or(layout.markRadiusPx);
    layout.outlineWPx = num(object, "outlineW_px").value_or(layout.outlineWPx);
    if (auto fonts = object.find("resolvedFonts"); fonts != object.end() && fonts->is_array()) {
        for (const Json& font : *fonts) {
            if (font.is_string()) layout.resolvedFonts.push_back(font.get<std::string>());
        }
    }
    layout.insertFontK = num(object, "insertFontK").value_or(layout.insertFontK);
    layout.insertLineK = num(object, "insertLineK").value_or(layout.insertLineK);

    for (const Json& page : *pages) {
        const auto index = integer(page, "index");
        const auto extra = num(page, "extra");
        if (!index || !extra) return std::nullopt;
        PageLayout pl;
        pl.extra = *extra;
        pl.gaps = entries<Gap>(page, "gaps", readGap);
        std::stable_sort(pl.gaps.begin(), pl.gaps.end(),
                         [](const Gap& a, const Gap& b) { return a.afterY < b.afterY; });
        pl.hrows = entries<HRow>(page, "hrows", readHRow);
        pl.cues = entries<CueBox>(page, "cues", readCueBox);
        pl.labels = entries<Label>(page, "labels", readLabel);
        pl.marks = entries<MarkBox>(page, "marks", readMarkBox);
        pl.inserts = entries<InsertBox>(page, "inserts", readInsertBox);
        pl.labelFontPx = num(page, "labelFontPx");
        pl.pageWpx = num(page, "pageWpx").value_or(0);
        pl.pageHpx = num(page, "pageHpx").value_or(0);
        pl.gutter = readGutter(page, pl.pageWpx);
        layout.pages[*index] = std::move(pl);  // a later page with the same index wins
    }
    return layout;
}

std::optional<Layout> decodeLayout(std::string_view text) {
    const auto json = parseJson(text);
    if (!json) return std::nullopt;
    return Layout::fromJson(*json);
}

}  // namespace tallowmark
