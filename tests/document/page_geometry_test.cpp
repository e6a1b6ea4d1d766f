// The conversions between the document's coordinate spaces. Every flip of y
// lives in them, so one row per kind of page covers the flips of the store,
// the export and the command line at once.
#include "document/page_geometry.hpp"

#include <gtest/gtest.h>

#include <type_traits>

namespace tallowmark {
namespace {

// A value of one space is never taken for another's.
static_assert(!std::is_convertible_v<BoxFraction, PageCrop>);
static_assert(!std::is_convertible_v<PageCrop, BoxFraction>);
static_assert(!std::is_convertible_v<ViewFraction, PageCrop>);
static_assert(!std::is_convertible_v<PageRect, ViewFraction>);
static_assert(!std::is_convertible_v<ViewPoint, PagePoint>);

template <class Space>
void expectNear(const Rect<Space>& actual, const Rect<Space>& expected, const char* what) {
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_NEAR(actual.list()[i], expected.list()[i], 1e-12) << what << " [" << i << "]";
}

void expectNear(PagePoint actual, PagePoint expected, const char* what) {
    EXPECT_NEAR(actual.x, expected.x, 1e-9) << what;
    EXPECT_NEAR(actual.y, expected.y, 1e-9) << what;
}

// One page: its display box, its crop in both forms, and a text line on it in
// every space. Crop heights and offsets are sums of halves and quarters, so
// the flips between them are exact.
struct Row {
    const char* name;
    PageRect display;
    BoxFraction up;      // the crop as the store keeps it
    PageCrop down;       // the same crop as the page and the marks file see it
    PageRect visible;    // the display box narrowed by the crop, points; no area: nothing is shown
    PageRect line;       // points
    ViewFraction view;   // the line on the visible box
    PageCrop wholePage;  // the line as fractions of the whole display box
};

TEST(PageGeometryTest, ConversionsAgreeAndRoundTrip) {
    const std::vector<Row> rows = {
        {"whole page", {0, 0, 300, 400}, {0, 0, 1, 1}, {0, 0, 1, 1}, {0, 0, 300, 400},
         {30, 340, 120, 20}, {0.1, 0.1, 0.4, 0.05}, {0.1, 0.1, 0.4, 0.05}},
        {"band at the foot", {0, 0, 300, 400}, {0.1, 0, 0.8, 0.25}, {0.1, 0.75, 0.8, 0.25}, {30, 0, 240, 100},
         {30, 80, 120, 20}, {0, 0, 0.5, 0.2}, {0.1, 0.75, 0.4, 0.05}},
        {"band at the head", {0, 0, 300, 400}, {0.1, 0.75, 0.8, 0.25}, {0.1, 0, 0.8, 0.25}, {30, 300, 240, 100},
         {30, 380, 120, 20}, {0, 0, 0.5, 0.2}, {0.1, 0, 0.4, 0.05}},
        // A crop box inside a larger media box: the display box does not start at 0.
        {"display box off the origin", {50, 100, 400, 800}, {0.25, 0.5, 0.5, 0.25}, {0.25, 0.25, 0.5, 0.25},
         {150, 500, 200, 200}, {150, 600, 100, 20}, {0, 0.4, 0.5, 0.1}, {0.25, 0.35, 0.25, 0.025}},
        // A line of no size at the visible box's bottom-right corner.
        {"empty line at the corner", {0, 0, 300, 400}, {0.1, 0, 0.8, 0.25}, {0.1, 0.75, 0.8, 0.25},
         {30, 0, 240, 100}, {270, 0, 0, 0}, {1, 1, 0, 0}, {0.9, 1, 0, 0}},
        // Crops with no height at the head or no width at the right edge show nothing.
        {"flat crop at the head", {0, 0, 300, 400}, {0, 1, 1, 0}, {0, 0, 1, 0}, {0, 400, 300, 0}, {}, {}, {}},
        {"thin crop at the right", {0, 0, 300, 400}, {1, 0, 0, 1}, {1, 0, 0, 1}, {300, 0, 0, 400}, {}, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.up.yDown(), row.down);
        EXPECT_EQ(row.down.yUp(), row.up);
        EXPECT_EQ(row.up.yDown().yUp(), row.up);
        EXPECT_EQ(row.down.yUp().yDown(), row.down);

        expectNear(row.up.of(row.display), row.visible, "visible box");
        expectNear(row.visible.fractionOf(row.display), row.up, "visible box back to the crop");
        EXPECT_EQ(row.visible.hasArea(), row.up.hasArea());
        if (!row.visible.hasArea()) continue;

        expectNear(row.line.viewOf(row.visible), row.view, "line on the visible box");
        expectNear(row.view.onPage(row.down), row.wholePage, "line on the whole page");
        // The same line taken to the whole page the other way round: through the display box, y up.
        expectNear(row.line.fractionOf(row.display).yDown(), row.wholePage, "line through the display box");
        // The line's top-left and bottom-right corners as a click would give them.
        expectNear(ViewPoint{row.view.x, row.view.y}.in(row.visible), {row.line.minX(), row.line.maxY()}, "top-left");
        expectNear(ViewPoint{row.view.maxX(), row.view.maxY()}.in(row.visible), {row.line.maxX(), row.line.minY()},
                   "bottom-right");
    }
}

TEST(PageGeometryTest, FlipsKeepTheBitsTheStoreHasAlwaysGiven) {
    // 0.3 and 0.6: one flip order rounds up, the other down. The crops handed
    // out are 1 - (y + height), the manual crop is kept as (1 - y) - height;
    // the page and the marks file see these bits.
    EXPECT_EQ((BoxFraction{0, 0.3, 1, 0.6}.yDown().y), 0.10000000000000009);
    EXPECT_EQ((PageCrop{0, 0.3, 1, 0.6}.yUp().y), 0.09999999999999998);
}

}  // namespace
}  // namespace tallowmark
