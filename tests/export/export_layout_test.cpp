#include "export/export_layout.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "export/export_text.hpp"

namespace tallowmark {
namespace {

Json minimal() {
    return {{"labelFontPx", 12}, {"labelLineH", 1.2}, {"labelPadX_px", 4}, {"labelPadY_px", 2},
            {"pages", {{{"index", 0}, {"extra", 0}, {"pageWpx", 600}}}}};
}

Json with(Json base, const std::string& pointer, Json value) {
    base[Json::json_pointer(pointer)] = std::move(value);
    return base;
}

Json without(Json base, const std::string& pointer) {
    const Json::json_pointer at(pointer);
    base[at.parent_pointer()].erase(at.back());
    return base;
}

TEST(ExportLayout, UnusableLayouts) {
    // Not an object, empty, a key missing, a number as text, pages not a list, a page not an object, a
    // page without extra, an index as text or beyond 64 bits.
    for (const Json& json : {Json::array(), Json::object(), without(minimal(), "/labelPadY_px"),
                             with(minimal(), "/labelFontPx", "12"), with(minimal(), "/pages", Json::object()),
                             with(minimal(), "/pages/1", 3), without(minimal(), "/pages/0/extra"),
                             with(minimal(), "/pages/0/index", "0"), with(minimal(), "/pages/0/index", 1e30),
                             with(minimal(), "/pages/0/index", std::uint64_t(1) << 63)})
        EXPECT_FALSE(Layout::fromJson(json)) << json;
    // 1e999 parses as infinity, which is no number.
    const std::string keys = R"("labelLineH":1,"labelPadX_px":1,"labelPadY_px":1,"pages":[]})";
    for (const std::string& bad : {std::string(), "{\"labelFontPx\":NaN," + keys, "{\"labelFontPx\":1e999," + keys})
        EXPECT_FALSE(decodeLayout(bad)) << bad;
    EXPECT_TRUE(decodeLayout("{\"labelFontPx\":12," + keys));
}

TEST(ExportLayout, DefaultsAndPageReading) {
    Json json = minimal();
    json["resolvedFonts"] = {"DejaVu Sans Mono", 7, "Liberation Mono"};
    json["markRadius_px"] = "6";  // text where a number belongs: the default stays
    json["pages"].push_back({{"index", 2.9}, {"extra", 0.25}, {"labelFontPx", 14}});
    json["pages"].push_back({{"index", -0.5}, {"extra", 0.5}, {"pageWpx", 800}});  // replaces page 0
    const auto layout = Layout::fromJson(json);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->markRadiusPx, 4);
    EXPECT_EQ(layout->resolvedFonts, (std::vector<std::string>{"DejaVu Sans Mono", "Liberation Mono"}));
    ASSERT_EQ(layout->pages.size(), 2u);
    const PageLayout &first = layout->pages.at(0), &third = layout->pages.at(2);
    EXPECT_EQ(std::tuple(first.extra, first.pageWpx, first.labelFontPx), std::tuple(0.5, 800, std::nullopt));
    // A missing page width is 0: the export refuses cues on the page.
    EXPECT_EQ(std::tuple(third.labelFontPx, third.pageWpx), std::tuple(14, 0));
}

TEST(ExportLayout, MalformedEntriesAreSkippedTheRestKept) {
    Json page = {{"index", 0}, {"extra", 0.1}, {"pageWpx", 600}};
    page["gaps"] = {{{"afterY", 0.7}, {"height", 0.1}}, {{"afterY", 0.2}} /* no height */,
                    {{"afterY", 0.3}, {"height", 0.02}}, {{"afterY", 0.3}, {"height", 0.03}}, "not an object"};
    const Json cue = {{"x", 0.1}, {"w", 0.2}, {"dy", 0.3}, {"dh", 0.02}, {"padL_px", 1}, {"padR_px", 2},
                      {"outlineOffset_px", 1}, {"color", 5}};
    page["cues"] = {cue, without(cue, "/outlineOffset_px"), with(cue, "/x", "0.1")};
    // A damaged leader is left out, its label kept.
    const Json label = {{"x", 1.01}, {"w", 0.1}, {"dy", 0.3}, {"dh", 0.02}, {"padL_px", 0}, {"text", "Q1"}};
    page["labels"] = {label, with(label, "/leader", {0.3, 0.31, 1.01, 0.31}), with(label, "/leader", {0.3, "0.31", 1, 1}),
                      with(label, "/leader", {0.3, 0.31, 1.01})};
    const Json insert = {{"x", 0.1}, {"w", 0.8}, {"dy", 0.5}, {"dh", 0.05}, {"lineH", 0.02}, {"text", "line"}};
    page["inserts"] = {with(insert, "/rows", 0), with(insert, "/rows", -3), with(insert, "/rows", 2.9),
                       with(insert, "/rows", 1e300)};
    page["marks"] = {{{"kind", "hide"}, {"x", 0}, {"w", 1}, {"dy", 0}}};  // no dh
    page["hrows"] = "not a list";
    Json json = minimal();
    json["pages"] = Json::array({page});

    const auto layout = Layout::fromJson(json);
    ASSERT_TRUE(layout);
    const PageLayout& p = layout->pages.at(0);
    ASSERT_EQ(p.gaps.size(), 3u);
    // Sorted by afterY, equal ones in their order.
    EXPECT_EQ(std::tuple(p.gaps[0].height, p.gaps[1].height, p.gaps[2].afterY), std::tuple(0.02, 0.03, 0.7));
    ASSERT_EQ(p.cues.size(), 1u);
    EXPECT_EQ(std::tuple(p.cues[0].color, p.cues[0].padR), std::tuple("", 2));  // a colour not text reads as empty
    ASSERT_EQ(p.labels.size(), 4u);
    EXPECT_EQ(std::tuple(p.labels[0].measuredWpx, p.labels[0].rows), std::tuple(0, 1));
    EXPECT_EQ(p.labels[1].leader, (std::array<double, 4>{0.3, 0.31, 1.01, 0.31}));
    EXPECT_FALSE(p.labels[0].leader || p.labels[2].leader || p.labels[3].leader);
    ASSERT_EQ(p.inserts.size(), 3u);  // rows beyond 64 bits: the entry is refused
    EXPECT_EQ(std::tuple(p.inserts[0].rows, p.inserts[1].rows, p.inserts[2].rows), std::tuple(1, 1, 2));
    EXPECT_TRUE(p.marks.empty());
    EXPECT_TRUE(p.hrows.empty());
}

// A gutter is read only when its side and width make a page a reader can show.
TEST(ExportLayout, Gutters) {
    const std::vector<std::tuple<Json, bool, double>> cases = {
        {{{"side", "right"}, {"px", 120}}, false, 120},  {{{"side", "left"}, {"px", 80.5}}, true, 80.5},
        {{{"px", 120}}, false, 0},                        {{{"side", "top"}, {"px", 120}}, false, 0},
        {{{"side", "left"}, {"px", "120"}}, false, 0},    {{{"side", "left"}, {"px", 0}}, false, 0},
        {{{"side", "left"}, {"px", -5}}, false, 0},       {"right", false, 0},
        {{{"side", "right"}, {"px", 2401}}, false, 0},  // wider than four pages
    };
    for (const auto& [gutter, left, px] : cases) {
        const auto layout = Layout::fromJson(with(minimal(), "/pages/0/gutter", gutter));
        ASSERT_TRUE(layout) << gutter;
        EXPECT_EQ(layout->pages.at(0).gutter.left, left) << gutter;
        EXPECT_EQ(layout->pages.at(0).gutter.px, px) << gutter;
    }
}

// The cut the page makes too (web/src/state/shown_text.ts): code points, not
// bytes; a line feed ends a line and counts as a character.
TEST(ExportText, VisiblePrefixCutsByCodePointsAndLines) {
    const std::string mask = "\xF0\x9F\x8E\xAD";  // U+1F3AD, four bytes, one code point
    struct Case {
        std::string text;
        std::size_t chars, lines;
        std::string kept;
        bool cut;
    } cases[] = {
        {"abcdef", 3, SIZE_MAX, "abc", true},
        {"abc", 3, SIZE_MAX, "abc", false},
        {"", 0, SIZE_MAX, "", false},
        {"\xC3\xA9t\xC3\xA9", 2, SIZE_MAX, "\xC3\xA9t", true},  // "été": bytes are not characters
        {mask + mask + mask, 2, SIZE_MAX, mask + mask, true},
        {"one\ntwo\nthree", 100, 2, "one\ntwo", true},
        {"one\ntwo\n", 100, 3, "one\ntwo\n", false},
        {"one\ntwo", 5, 9, "one\nt", true},  // the line feed is a character
        {"a\nb", 100, 0, "a", true},         // a line at least
    };
    for (const Case& c : cases) {
        const export_drawing::Clipped got = export_drawing::visiblePrefix(c.text, c.chars, c.lines);
        EXPECT_EQ(got.text, c.kept) << c.text;
        EXPECT_EQ(got.cut, c.cut) << c.text;
    }
    EXPECT_EQ(export_drawing::shortText("storm at sea", 6), "storm\xE2\x80\xA6");  // the blank before the cut goes
    EXPECT_EQ(export_drawing::shortText("storm", 6), "storm");
    EXPECT_EQ(export_drawing::splitLines(std::string(1'000'000, '\n'), 12).size(), 12u);  // the rest is not read
}

}  // namespace
}  // namespace tallowmark
