#include <gtest/gtest.h>

#include "document/document_store.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::FixturePage;
using testing::TempDir;

TEST(PageNumberLine, CountsShortDigitLinesWithoutLetters) {
    for (const char* yes : {"12", "\u2013 12 \u2013", "- 7 -", "(3)", "12/40", "123456789012", "\u0663\u0664"}) {
        EXPECT_TRUE(DocumentStore::looksLikePageNumber(yes)) << yes;
    }
    for (const char* no : {"", "  ", "Page 3", "iv", "Scene 4", "1234567890123", "- -", "1\u0301", "\xff" "1"}) {
        EXPECT_FALSE(DocumentStore::looksLikePageNumber(no)) << no;
    }
    // A flag is two code points but one user-perceived character: 23 code points, 12 characters.
    std::string flags = "1";
    for (int i = 0; i < 11; ++i) flags += "\U0001F1EB\U0001F1EE";
    EXPECT_TRUE(DocumentStore::looksLikePageNumber(flags));
    EXPECT_FALSE(DocumentStore::looksLikePageNumber(flags + "1"));
}

class DocumentLinesTest : public ::testing::Test {
protected:
    TempDir dir;
    DocumentStore store;
};

TEST_F(DocumentLinesTest, LinesOfKnownPagesInEveryRotation) {
    // The second page is the first turned, which also keeps the document uncropped,
    // so the fractions are of the whole page.
    const FixturePage page{300, 400, {{30, 40, "Alpha beta gamma", 12}, {60, 200, "Lower line", 24}}};
    testing::writePdf(dir / "plain.pdf", {page, page});
    for (int degrees : {90, 180, 270}) {
        SCOPED_TRACE(degrees);
        const auto turned = dir / ("turned" + std::to_string(degrees) + ".pdf");
        ASSERT_TRUE(testing::rotatePdf(dir / "plain.pdf", turned, degrees, "2"));
        ASSERT_TRUE(store.open(turned));
        EXPECT_TRUE(cropList(store.automaticCrop()).empty());
        EXPECT_FALSE(store.allPageLines());

        const auto lines = store.pageLines(0);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_NEAR(lines[0].x, 30.0 / 300, 0.003);
        EXPECT_NEAR(lines[0].y, 40.0 / 400, 0.003);
        EXPECT_NEAR(lines[0].height, 12.0 / 400, 0.01);
        EXPECT_NEAR(lines[1].x, 60.0 / 300, 0.003);
        EXPECT_NEAR(lines[1].y, 200.0 / 400, 0.003);
        EXPECT_GT(lines[1].width, lines[0].width * 0.8);  // larger type, fewer letters

        const auto turnedLines = store.pageLines(1);
        ASSERT_EQ(turnedLines.size(), 2u);
        for (std::size_t i = 0; i < 2; ++i)
            for (std::size_t k = 0; k < 4; ++k) EXPECT_NEAR(turnedLines[i].list()[k], lines[i].list()[k], 1e-6);
    }
}

TEST_F(DocumentLinesTest, PageNumberLinesAreFlaggedOnlyAtTheEdges) {
    testing::writePdf(dir / "numbers.pdf",
                      {{300, 400, {{140, 20, "\u2013 7 \u2013"}, {30, 100, "HAMLET speaks"}, {140, 200, "7"},
                                   {30, 300, "Exit"}, {140, 370, "7"}}},
                       {300, 400, {{140, 200, "23"}}},
                       {300, 400, {{30, 100, "Scene 4"}}}});
    ASSERT_TRUE(store.open(dir / "numbers.pdf"));
    const auto pages = store.allPageLines();
    ASSERT_TRUE(pages);
    ASSERT_EQ(pages->size(), 3u);
    std::vector<double> flags;
    for (const auto& line : (*pages)[0]) flags.push_back(line.pageNumber ? 1.0 : 0.0);
    EXPECT_EQ(flags, (std::vector<double>{1, 0, 0, 0, 1}));
    ASSERT_EQ((*pages)[1].size(), 1u);
    EXPECT_TRUE((*pages)[1][0].pageNumber);
    ASSERT_EQ((*pages)[2].size(), 1u);
    EXPECT_FALSE((*pages)[2][0].pageNumber);
    for (std::size_t i = 1; i < (*pages)[0].size(); ++i) EXPECT_LT((*pages)[0][i - 1].rect.y, (*pages)[0][i].rect.y);
}

TEST_F(DocumentLinesTest, PageNumberFlagRecropsOnlyWhenItChanges) {
    testing::writePdf(dir / "s.pdf", {{300, 400, {{30, 40, "Alpha beta gamma"}, {30, 100, "Last words"}, {140, 370, "12"}}}});
    const auto opened = store.open(dir / "s.pdf");
    ASSERT_TRUE(opened);
    ASSERT_TRUE(store.renderPage(0, 40));
    const auto same = store.setDropPageNumbers(false);
    EXPECT_EQ(same, opened);
    EXPECT_EQ(store.cachedKeys().size(), 1u);

    const auto dropped = store.setDropPageNumbers(true);
    ASSERT_TRUE(dropped);
    EXPECT_TRUE(store.cachedKeys().empty());
    // Without the foot number the crop ends below the last line, so the page gets wider.
    EXPECT_GT(dropped->aspects[0], opened->aspects[0] * 2);
    const auto crop = cropList(store.automaticCrop());
    ASSERT_EQ(crop.size(), 4u);
    EXPECT_LT(crop[1] + crop[3], 130.0 / 400);
}

}  // namespace
}  // namespace tallowmark
