#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "document/document_store.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::TempDir;

class DocumentCropTest : public ::testing::Test {
protected:
    TempDir dir;
    DocumentStore store;

    std::vector<PageCrop> crops(int pageCount) {
        std::vector<PageCrop> result;
        for (int i = 0; i < pageCount; ++i)
            if (auto crop = store.pageCrop(i)) result.push_back(*crop);
        return result;
    }
};

TEST_F(DocumentCropTest, PagesShareOneHorizontalRangeAndBlankPagesGetACentredBand) {
    testing::writePdf(dir / "s.pdf", {{300, 400, {{150, 40, "Short"}}},
                                      {300, 400, {}},
                                      {300, 400, {{30, 200, "A longer line"}, {30, 240, "and another below it"}}}});
    const auto info = store.open(dir / "s.pdf");
    ASSERT_TRUE(info);
    const auto c = crops(3);
    ASSERT_EQ(c.size(), 3u);
    EXPECT_NEAR(c[0].x, 30.0 / 300 - 0.006, 0.002);
    for (const auto& crop : c) {
        EXPECT_DOUBLE_EQ(crop.x, c[0].x);
        EXPECT_DOUBLE_EQ(crop.width, c[0].width);
    }
    // The single line's top is 40 pt below the page's top; the margin goes above it.
    EXPECT_NEAR(c[0].y, 40.0 / 400 - 0.006, 0.002);
    EXPECT_LT(c[0].height, c[2].height);
    // The band is as tall as the tallest text block itself, without the margins.
    EXPECT_NEAR(c[1].height, c[2].height - 2 * 0.006, 1e-12);
    EXPECT_NEAR(c[1].y, (1 - c[1].height) / 2, 1e-12);

    // The first page's crop to the last bit: the page takes either for the frame it shows.
    EXPECT_EQ(store.automaticCrop(), c[0]);
    EXPECT_NEAR(info->aspects[0], (300 * c[0].width) / (400 * c[0].height), 1e-9);
}

TEST_F(DocumentCropTest, ManualCropIsClampedOrCleared) {
    testing::writePdf(dir / "s.pdf", {{300, 400, {{30, 40, "Alpha beta gamma"}, {30, 300, "Lower words here"}}}});
    ASSERT_TRUE(store.open(dir / "s.pdf"));
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        std::optional<std::vector<double>> in;
        std::vector<double> out;
    };
    const std::vector<Case> cases = {
        {std::vector<double>{0.9, 0.2, 0.1, 0.5}, {0.75, 0.2, 0.25, 0.5}},
        {std::vector<double>{0.1, 0.3, 0.5, 0.01}, {0.1, 0.3, 0.5, 0.05}},
        {std::vector<double>{-1, 0.98, 2, 0.1}, {0, 0.9, 1, 0.1}},
        {std::vector<double>{0.1, 0.2, 0.5}, {}},
        {std::vector<double>{0.1, 0.2, inf, 0.5}, {}},
        {std::vector<double>{0.1, NAN, 0.5, 0.5}, {}},
        {std::nullopt, {}},
    };
    for (const auto& c : cases) {
        // The list as the page or the marks file gives it, through the same conversion.
        ASSERT_TRUE(store.setCrop(c.in ? cropFromList(*c.in) : std::nullopt));
        const auto rect = cropList(store.manualCrop());
        ASSERT_EQ(rect.size(), c.out.size());
        for (std::size_t i = 0; i < rect.size(); ++i) EXPECT_NEAR(rect[i], c.out[i], 1e-12);
    }
}

TEST_F(DocumentCropTest, ManualCropKeepsOnlyTheTextInsideIt) {
    testing::writePdf(dir / "s.pdf", {{300, 400, {{30, 40, "Alpha beta gamma"}, {30, 300, "Lower words here"}}}});
    const auto opened = store.open(dir / "s.pdf");
    ASSERT_TRUE(opened);
    const auto whole = crops(1).at(0);

    // The top half: only the first line's centre is inside.
    auto info = store.setCrop(PageCrop{0, 0, 1, 0.5});
    ASSERT_TRUE(info);
    auto top = crops(1).at(0);
    EXPECT_LT(top.height, 0.1);
    EXPECT_DOUBLE_EQ(top.y, whole.y);
    EXPECT_LE(top.maxY(), 0.5 + 1e-12);
    EXPECT_EQ(cropList(store.automaticCrop()).size(), 4u);  // the automatic crop stays as it was

    // An area without text leaves the pages whole, while the manual crop is still reported.
    info = store.setCrop(PageCrop{0.5, 0.5, 0.4, 0.2});
    ASSERT_TRUE(info);
    EXPECT_TRUE(crops(1).empty());
    EXPECT_NEAR(info->aspects[0], 0.75, 1e-9);
    EXPECT_EQ(cropList(store.manualCrop()).size(), 4u);
    EXPECT_FALSE(store.allPageLines());

    store.close();
    EXPECT_FALSE(store.setCrop(PageCrop{0, 0, 1, 1}));
    EXPECT_TRUE(cropList(store.automaticCrop()).empty());
}

}  // namespace
}  // namespace tallowmark
