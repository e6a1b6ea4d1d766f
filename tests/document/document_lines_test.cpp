// The text lines of a page, the page numbers among them, and the crop they give.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "store_test.hpp"

namespace tallowmark {
namespace {

using testing::FixturePage;

TEST(PageNumberLine, CountsShortDigitLinesWithoutLetters) {
    for (const char* yes : {"12", "\u2013 12 \u2013", "- 7 -", "(3)", "12/40", "123456789012", "\u0663\u0664"})
        EXPECT_TRUE(DocumentStore::looksLikePageNumber(yes)) << yes;
    for (const char* no : {"", "  ", "Page 3", "iv", "Scene 4", "1234567890123", "- -", "1\u0301", "\xff" "1"})
        EXPECT_FALSE(DocumentStore::looksLikePageNumber(no)) << no;
    // A flag is two code points but one user-perceived character: 23 code points, 12 characters.
    std::string flags = "1";
    for (int i = 0; i < 11; ++i) flags += "\U0001F1EB\U0001F1EE";
    EXPECT_TRUE(DocumentStore::looksLikePageNumber(flags) && !DocumentStore::looksLikePageNumber(flags + "1"));
}

using DocumentLinesTest = testing::StoreTest;

// "1 0 0 1": the page's lines, each flagged as a page number or not.
std::string flagsOf(const std::vector<DocumentStore::NumberedLine>& lines) {
    std::string text;
    for (const auto& line : lines) text += (text.empty() ? "" : " ") + std::string(line.pageNumber ? "1" : "0");
    return text;
}

// Only lines on a page's outer baselines count, both foot numbers of a spread too; only a change recrops.
TEST_F(DocumentLinesTest, PageNumberLinesAreFlaggedOnlyAtTheEdgesAndDroppingThemRecrops) {
    const auto opened = store.open(pdf("numbers.pdf", {{300, 400, {{140, 20, "\u2013 7 \u2013"}, {30, 100, "HAMLET speaks"},
                                                                   {140, 200, "7"}, {30, 300, "Exit"}, {140, 370, "7"}}},
                                                       {300, 400, {{140, 200, "23"}}},
                                                       {300, 400, {{30, 100, "Scene 4"}}}, testing::spreadPage()}));
    ASSERT_TRUE(opened);
    const auto pages = store.allPageLines();
    ASSERT_TRUE(pages && pages->size() == 4u);
    EXPECT_EQ(flagsOf((*pages)[0]), "1 0 0 0 1");
    EXPECT_EQ(flagsOf((*pages)[1]), "1");
    EXPECT_EQ(flagsOf((*pages)[2]), "0");
    const std::string spread = flagsOf((*pages)[3]);
    EXPECT_TRUE(spread.ends_with("0 1 1") && std::count(spread.begin(), spread.end(), '1') == 2) << spread;
    for (std::size_t i = 1; i < (*pages)[0].size(); ++i) EXPECT_LT((*pages)[0][i - 1].rect.y, (*pages)[0][i].rect.y);

    ASSERT_TRUE(store.renderPage(0, 40));
    EXPECT_EQ(store.setDropPageNumbers(false), opened);
    EXPECT_EQ(store.cachedKeys().size(), 1u);
    const auto dropped = store.setDropPageNumbers(true);
    ASSERT_TRUE(dropped);
    EXPECT_TRUE(store.cachedKeys().empty());
    // Without the head and foot numbers the crop is the speech alone, so the page gets wider.
    EXPECT_GT(dropped->aspects[0], opened->aspects[0] * 1.5);
    const auto crop = cropList(store.automaticCrop());
    ASSERT_EQ(crop.size(), 4u);
    EXPECT_TRUE(crop[1] > 90.0 / 400 && crop[1] + crop[3] < 330.0 / 400) << crop[1] << " " << crop[3];
}

using DocumentCropTest = testing::StoreTest;

TEST_F(DocumentCropTest, PagesShareOneHorizontalRangeAndBlankPagesGetACentredBand) {
    const FixturePage longer{300, 400, {{30, 200, "A longer line"}, {30, 240, "and another below it"}}};
    const auto info = store.open(pdf("s.pdf", {{300, 400, {{150, 40, "Short"}}}, {300, 400, {}}, longer}));
    ASSERT_TRUE(info);
    const auto c = crops(3);
    ASSERT_EQ(c.size(), 3u);
    EXPECT_NEAR(c[0].x, 30.0 / 300 - 0.006, 0.002);
    for (const auto& crop : c) EXPECT_EQ(std::pair(crop.x, crop.width), std::pair(c[0].x, c[0].width));
    EXPECT_NEAR(c[0].y, 40.0 / 400 - 0.006, 0.002);
    EXPECT_LT(c[0].height, c[2].height);
    // The band is as tall as the tallest text block itself, without the margins.
    EXPECT_NEAR(c[1].height, c[2].height - 2 * 0.006, 1e-12);
    EXPECT_NEAR(c[1].y, (1 - c[1].height) / 2, 1e-12);

    // The first page's crop to the last bit: the page takes either.
    EXPECT_EQ(store.automaticCrop(), c[0]);
    EXPECT_NEAR(info->aspects[0], (300 * c[0].width) / (400 * c[0].height), 1e-9);
}

const FixturePage twoLines{300, 400, {{30, 40, "Alpha beta gamma"}, {30, 300, "Lower words here"}}};

TEST_F(DocumentCropTest, ManualCropIsClampedOrCleared) {
    ASSERT_TRUE(store.open(pdf("s.pdf", {twoLines})));
    const double inf = std::numeric_limits<double>::infinity();
    // The list as the page or the marks file gives it, through the same conversion; {} for none.
    const std::pair<std::vector<double>, std::vector<double>> cases[] = {
        {{0.9, 0.2, 0.1, 0.5}, {0.75, 0.2, 0.25, 0.5}}, {{0.1, 0.3, 0.5, 0.01}, {0.1, 0.3, 0.5, 0.05}},
        {{-1, 0.98, 2, 0.1}, {0, 0.9, 1, 0.1}},         {{0.1, 0.2, 0.5}, {}},
        {{0.1, 0.2, inf, 0.5}, {}},                     {{0.1, NAN, 0.5, 0.5}, {}},
        {{0.1, 0.2, 0.3, 0.4}, {0.1, 0.2, 0.3, 0.4}},   {{}, {}},
    };
    for (const auto& [in, out] : cases) {
        ASSERT_TRUE(store.setCrop(cropFromList(in)));
        const auto rect = cropList(store.manualCrop());
        ASSERT_EQ(rect.size(), out.size());
        for (std::size_t i = 0; i < rect.size(); ++i) EXPECT_NEAR(rect[i], out[i], 1e-12);
    }
}

TEST_F(DocumentCropTest, ManualCropKeepsOnlyTheTextInsideIt) {
    ASSERT_TRUE(store.open(pdf("s.pdf", {twoLines})));
    const auto whole = crops(1).at(0);

    // The top half: only the first line's centre is inside.
    ASSERT_TRUE(store.setCrop(PageCrop{0, 0, 1, 0.5}));
    const auto top = crops(1).at(0);
    EXPECT_LT(top.height, 0.1);
    EXPECT_DOUBLE_EQ(top.y, whole.y);
    EXPECT_LE(top.maxY(), 0.5 + 1e-12);
    EXPECT_EQ(cropList(store.automaticCrop()).size(), 4u);  // the automatic crop stays as it was

    // An area without text leaves the pages whole, while the manual crop is still reported.
    const auto info = store.setCrop(PageCrop{0.5, 0.5, 0.4, 0.2});
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
