#include "export/export_layout.hpp"

#include <gtest/gtest.h>

#include <tuple>

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

Json without(Json base, const std::string& key) {
    base.erase(key);
    return base;
}

TEST(ExportLayout, UnusableLayouts) {
    Json noExtra = minimal();
    noExtra["pages"][0].erase("extra");
    const std::vector<std::pair<const char*, Json>> cases = {
        {"not an object", Json::array()},
        {"empty object", Json::object()},
        {"no labelPadY_px", without(minimal(), "labelPadY_px")},
        {"number as text", with(minimal(), "/labelFontPx", "12")},
        {"pages not a list", with(minimal(), "/pages", Json::object())},
        {"a page not an object", with(minimal(), "/pages/1", 3)},
        {"page without extra", noExtra},
        {"index as text", with(minimal(), "/pages/0/index", "0")},
        {"index beyond 64 bits", with(minimal(), "/pages/0/index", 1e30)},
        {"unsigned index beyond 64 bits", with(minimal(), "/pages/0/index", std::uint64_t(1) << 63)},
    };
    for (const auto& [name, json] : cases) EXPECT_FALSE(Layout::fromJson(json)) << name;

    EXPECT_FALSE(decodeLayout(""));
    EXPECT_FALSE(decodeLayout("{\"labelFontPx\": NaN}"));
    // 1e999 parses as infinity, which is no number.
    EXPECT_FALSE(decodeLayout(R"({"labelFontPx":1e999,"labelLineH":1,"labelPadX_px":1,"labelPadY_px":1,"pages":[]})"));
    EXPECT_TRUE(decodeLayout(R"({"labelFontPx":12,"labelLineH":1,"labelPadX_px":1,"labelPadY_px":1,"pages":[]})"));
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
    page["gaps"] = {{{"afterY", 0.7}, {"height", 0.1}},
                    {{"afterY", 0.2}},  // no height
                    {{"afterY", 0.3}, {"height", 0.02}},
                    {{"afterY", 0.3}, {"height", 0.03}},
                    "not an object"};
    const Json cue = {{"x", 0.1}, {"w", 0.2}, {"dy", 0.3}, {"dh", 0.02}, {"padL_px", 1}, {"padR_px", 2},
                      {"outlineOffset_px", 1}, {"color", 5}};
    Json cueWithout = cue;
    cueWithout.erase("outlineOffset_px");
    page["cues"] = {cue, cueWithout, with(cue, "/x", "0.1")};
    page["labels"] = {{{"x", 0.8}, {"w", 0.1}, {"dy", 0.3}, {"dh", 0.02}, {"padL_px", 0}, {"text", "Q1"}}};
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
    ASSERT_EQ(p.labels.size(), 1u);
    EXPECT_EQ(std::tuple(p.labels[0].measuredWpx, p.labels[0].rows), std::tuple(0, 1));
    ASSERT_EQ(p.inserts.size(), 3u);  // rows beyond 64 bits: the entry is refused
    EXPECT_EQ(std::tuple(p.inserts[0].rows, p.inserts[1].rows, p.inserts[2].rows), std::tuple(1, 1, 2));
    EXPECT_TRUE(p.marks.empty());
    EXPECT_TRUE(p.hrows.empty());
}

// A gutter is read only when its side and width make a page a reader can
// show; a damaged leader is left out, its label kept.
TEST(ExportLayout, GuttersAndLeaders) {
    const std::vector<std::tuple<const char*, Json, bool, double>> cases = {
        {"right", {{"side", "right"}, {"px", 120}}, false, 120},
        {"left", {{"side", "left"}, {"px", 80.5}}, true, 80.5},
        {"no side", {{"px", 120}}, false, 0},
        {"side unknown", {{"side", "top"}, {"px", 120}}, false, 0},
        {"width as text", {{"side", "left"}, {"px", "120"}}, false, 0},
        {"no width", {{"side", "left"}, {"px", 0}}, false, 0},
        {"negative", {{"side", "left"}, {"px", -5}}, false, 0},
        {"wider than four pages", {{"side", "right"}, {"px", 2401}}, false, 0},
        {"not an object", "right", false, 0},
    };
    const Json label = {{"x", 1.01}, {"w", 0.1}, {"dy", 0.3}, {"dh", 0.02}, {"padL_px", 0}, {"text", "Q1"}};
    for (const auto& [name, gutter, left, px] : cases) {
        Json json = with(minimal(), "/pages/0/gutter", gutter);
        json["pages"][0]["labels"] = {with(label, "/leader", {0.3, 0.31, 1.01, 0.31}), with(label, "/leader", {0.3, "0.31", 1, 1}),
                                      with(label, "/leader", {0.3, 0.31, 1.01})};
        const auto layout = Layout::fromJson(json);
        ASSERT_TRUE(layout) << name;
        const PageLayout& p = layout->pages.at(0);
        EXPECT_EQ(p.gutter.left, left) << name;
        EXPECT_EQ(p.gutter.px, px) << name;
        ASSERT_EQ(p.labels.size(), 3u) << name;
        EXPECT_EQ(p.labels[0].leader, (std::array<double, 4>{0.3, 0.31, 1.01, 0.31})) << name;
        EXPECT_FALSE(p.labels[1].leader) << name;
        EXPECT_FALSE(p.labels[2].leader) << name;
    }
}

}  // namespace
}  // namespace tallowmark
