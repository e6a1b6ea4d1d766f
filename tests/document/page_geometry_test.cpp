// The conversions between the document's coordinate spaces, where every flip of y lives. The
// store's answers hold them on real pages: crops (DocumentCropTest), lines and ink on a crop
// box off the origin (DocumentStoreTest), clicks and hits on turned pages (DocumentSelectionTest).
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

// Crops with no height at the head or no width at the right edge show nothing, and flip back whole.
TEST(PageGeometryTest, FlatCropsShowNothingAndFlipBack) {
    const PageRect display{0, 0, 300, 400};
    for (const auto& [up, down] : {std::pair{BoxFraction{0, 1, 1, 0}, PageCrop{0, 0, 1, 0}},
                                   std::pair{BoxFraction{1, 0, 0, 1}, PageCrop{1, 0, 0, 1}}}) {
        EXPECT_EQ(up.yDown(), down);
        EXPECT_EQ(down.yUp(), up);
        EXPECT_FALSE(up.hasArea() || up.of(display).hasArea());
    }
}

TEST(PageGeometryTest, FlipsKeepTheBitsTheStoreHasAlwaysGiven) {
    // One flip order rounds up, the other down: the crops handed out are 1 - (y + height), the
    // manual crop is kept as (1 - y) - height, and the page and the marks file see these bits.
    EXPECT_EQ((BoxFraction{0, 0.3, 1, 0.6}.yDown().y), 0.10000000000000009);
    EXPECT_EQ((PageCrop{0, 0.3, 1, 0.6}.yUp().y), 0.09999999999999998);
}

}  // namespace
}  // namespace tallowmark
