// The page's lists of numbers against the store's typed values: rectangles,
// numbered lines and crops keep their order and values across the bridge.
#include <gtest/gtest.h>

#include <array>

#include "bridge_fixture.hpp"
#include "document/document_store.hpp"
#include "support/pdf_fixtures.hpp"

namespace tallowmark {
namespace {

Json listOf(const ViewFraction& f) { return Json::array({f.x, f.y, f.width, f.height}); }

class BridgePageValuesTest : public testing::BridgeFixture {};

TEST_F(BridgePageValuesTest, RectanglesLinesAndCropsKeepTheirValues) {
    const auto path = dir / "Values.pdf";
    testing::writePdf(path, {{300, 400, {{30, 40, "Alpha beta gamma"}, {30, 56, "Second line"}, {30, 72, "Third row"}, {140, 370, "7"}}}});
    DocumentStore store;
    ASSERT_TRUE(store.open(path));
    ASSERT_TRUE(call("openDocumentPath", Json::array({path.string()})).value.is_object());

    const auto lines = store.pageLines(0);
    ASSERT_EQ(lines.size(), 4u);
    Json expected = Json::array();
    for (const ViewFraction& line : lines) expected.push_back(listOf(line));
    EXPECT_EQ(call("pageLines", Json::array({0})).value, expected);

    // Four numbers of the line, then 1 for the page number at the foot, 0 for the rest.
    const auto pages = store.allPageLines();
    ASSERT_TRUE(pages);
    Json numbered = Json::array();
    for (const auto& line : pages->at(0)) {
        Json entry = listOf(line.rect);
        entry.push_back(line.pageNumber ? 1.0 : 0.0);
        numbered.push_back(entry);
    }
    EXPECT_EQ(numbered.back().back(), 1.0);
    EXPECT_EQ(call("allPageLines").value, Json::array({numbered}));

    // A drag from the first line into the second.
    const ViewPoint from{lines[0].x + 0.3 * lines[0].width, lines[0].y + lines[0].height / 2};
    const ViewPoint to{lines[1].x + 0.5 * lines[1].width, lines[1].y + lines[1].height / 2};
    const auto selection = store.textSelection(0, from, to, true);
    ASSERT_TRUE(selection);
    const Json rect = call("textRect", Json::array({0, from.x, from.y, to.x, to.y})).value;
    EXPECT_EQ(rect["rect"], listOf(selection->rect));
    ASSERT_EQ(selection->lines.size(), 2u);
    EXPECT_EQ(rect["lines"], Json::array({listOf(selection->lines[0]), listOf(selection->lines[1])}));

    const auto hits = store.search("second", 10);
    ASSERT_EQ(hits.size(), 1u);
    const Json found = call("searchDocument", Json::array({"second"})).value;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]["rect"], listOf(hits[0].rect));

    // A crop goes into the marks file as the page sent it and comes back on the next open.
    const Json crop = Json::array({0.125, 0.25, 0.5, 0.625});
    EXPECT_EQ(call("setCrop", Json::array({crop})).value["crop"], crop);
    call("closeDocument");
    const Json reopened = call("openDocumentPath", Json::array({path.string()})).value;
    EXPECT_EQ(reopened["crop"], crop);
    EXPECT_EQ(call("setCrop", Json::array({Json::array({0.1, 0.2, 0.5})})).value["crop"], Json::array());
}

// Each page's crop as a frame of its whole page, y down: the first page's is
// the automatic crop, every frame has its page's displayed aspect, a manual
// crop holds them all, and one over no text leaves every page whole. The
// first page's text ends where measuring its frame from the top in two
// different orders rounds apart in the last bit.
TEST_F(BridgePageValuesTest, CropRectsAreEachPagesFrameOfItsWholePage) {
    const auto path = dir / "Frames.pdf";
    testing::writePdf(path, {{300, 400, {{30, 40, "Alpha beta gamma"}, {30, 210, "Middle words here"}}},
                             {300, 400, {{60, 300, "Low line only"}}}});
    ASSERT_TRUE(call("openDocumentPath", Json::array({path.string()})).value.is_object());
    struct Row {
        Json crop;
        std::array<double, 4> within;  // every frame lies inside this
        bool whole;                    // every page shown uncropped
    };
    const std::vector<Row> rows = {
        {nullptr, {0, 0, 1, 1}, false},
        {Json::array({0.05, 0.05, 0.9, 0.85}), {0.05, 0.05, 0.9, 0.85}, false},
        {Json::array({0.6, 0.6, 0.3, 0.1}), {0, 0, 1, 1}, true},
    };
    for (const Row& row : rows) {
        const Json doc = call("setCrop", Json::array({row.crop})).value;
        ASSERT_TRUE(doc.is_object()) << row.crop;
        const Json& rects = doc["cropRects"];
        ASSERT_EQ(rects.size(), 2u) << row.crop;
        if (row.crop.is_null()) {
            EXPECT_EQ(rects[0], doc["autoCrop"]);
        }
        for (std::size_t i = 0; i < rects.size(); ++i) {
            const double x = rects[i][0], y = rects[i][1], w = rects[i][2], h = rects[i][3];
            EXPECT_NEAR(w * 300 / (h * 400), doc["aspects"][i].get<double>(), 1e-9) << row.crop << " page " << i;
            if (row.whole) {
                EXPECT_EQ(rects[i], Json::array({0.0, 0.0, 1.0, 1.0})) << row.crop;
                continue;
            }
            EXPECT_LT(w, 1.0) << row.crop;
            EXPECT_GE(x, row.within[0] - 1e-9) << row.crop;
            EXPECT_GE(y, row.within[1] - 1e-9) << row.crop;
            EXPECT_LE(x + w, row.within[0] + row.within[2] + 1e-9) << row.crop;
            EXPECT_LE(y + h, row.within[1] + row.within[3] + 1e-9) << row.crop;
        }
        // The second page's text sits low: its frame starts lower than the first's.
        if (!row.whole) {
            EXPECT_GT(rects[1][1].get<double>(), rects[0][1].get<double>()) << row.crop;
        }
    }
}

}  // namespace
}  // namespace tallowmark
