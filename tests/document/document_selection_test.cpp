#include <gtest/gtest.h>

#include "document/document_store.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::FixturePage;
using testing::FixtureText;
using testing::TempDir;

// Three lines of 12 pt type from x 30, 16 pt apart.
constexpr double pageWidth = 300, pageHeight = 400;
const std::vector<FixtureText> script = {
    {30, 40, "Alpha beta gamma delta"}, {30, 56, "Second line here"}, {30, 72, "Third row"}};

// Where a word of the first line starts and ends, in points from the page's left.
double wordStart(const std::string& before) { return 30 + testing::textWidth(before); }

class DocumentSelectionTest : public ::testing::Test {
protected:
    TempDir dir;
    DocumentStore store;
    PageCrop crop;

    void openPages(const std::vector<FixturePage>& pages) {
        testing::writePdf(dir / "script.pdf", pages);
        ASSERT_TRUE(store.open(dir / "script.pdf"));
        crop = store.pageCrop(0).value_or(PageCrop{0, 0, 1, 1});
    }
    void SetUp() override { openPages({{pageWidth, pageHeight, script}}); }

    // A point given in page points from the top-left, as the page would send it.
    ViewPoint at(double x, double top) const {
        return {(x / pageWidth - crop.x) / crop.width, (top / pageHeight - crop.y) / crop.height};
    }
    // The middle of the 12 pt line whose layout box starts at `top`.
    ViewPoint onLine(double x, double top) const { return at(x, top + 8); }
    double visibleWidth() const { return crop.width * pageWidth; }

    const double beta0 = wordStart("Alpha "), beta1 = wordStart("Alpha beta");
    const double gamma0 = wordStart("Alpha beta "), gamma1 = wordStart("Alpha beta gamma");
    const double delta0 = wordStart("Alpha beta gamma ");

    std::optional<DocumentStore::Selection> select(ViewPoint from, ViewPoint to, bool snapWords = true) {
        return store.textSelection(0, from, to, snapWords);
    }
    std::vector<DocumentStore::SearchHit> search(const std::string& query, int limit = 300) {
        return store.search(query, limit);
    }
};

TEST_F(DocumentSelectionTest, ClickSelectsTheWordUnderThePointer) {
    for (bool snapWords : {true, false}) {
        // Travel just under the click threshold on both axes.
        const auto sel = select(onLine(gamma0 + 2, 40), onLine(gamma0 + 9.9, 40 + 7.9), snapWords);
        ASSERT_TRUE(sel);
        EXPECT_EQ(sel->text, "gamma");
        // Glyph boxes are the font's advance boxes, not the ink: close to where pango set the word.
        EXPECT_NEAR(sel->rect.x * visibleWidth(), at(gamma0, 0).x * visibleWidth(), 1.5);
        EXPECT_NEAR((sel->rect.x + sel->rect.width) * visibleWidth(), at(gamma1, 0).x * visibleWidth(), 1.5);
        ASSERT_EQ(sel->lines.size(), 1u);
        // A word space on either side, not the open space of a margin.
        EXPECT_GT(sel->gapL, 0);
        EXPECT_LE(sel->gapL * visibleWidth(), gamma0 - beta1);
        EXPECT_GT(sel->gapR, 0);
        EXPECT_LE(sel->gapR * visibleWidth(), delta0 - gamma1);
        EXPECT_GT(sel->lineEnd, sel->rect.x + sel->rect.width);  // "delta" lies further on
    }
    // The last word of a line has open space to its right.
    const auto last = select(onLine(delta0 + 3, 40), onLine(delta0 + 3, 40));
    ASSERT_TRUE(last);
    EXPECT_EQ(last->text, "delta");
    EXPECT_NEAR(last->gapR, 1000 / visibleWidth(), 1e-9);
    EXPECT_NEAR(last->lineEnd, last->rect.x + last->rect.width, 0.01);
    // Nothing under the pointer.
    EXPECT_FALSE(select(at(250, 300), at(250, 300)));
}

TEST_F(DocumentSelectionTest, DragsSelectWholeWordsFromTheHigherLineDown) {
    // From inside "beta" to inside "gamma", wandering less than a line spacing.
    const auto whole = select(onLine(beta0 + 8, 40), onLine(gamma0 + 15, 40 + 9));
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->text, "beta gamma");
    ASSERT_EQ(whole->lines.size(), 1u);
    const auto reverse = select(onLine(gamma0 + 15, 40), onLine(beta0 + 8, 40));
    ASSERT_TRUE(reverse);
    EXPECT_EQ(reverse->text, whole->text);

    const auto partial = select(onLine(beta0 + 8, 40), onLine(gamma0 + 15, 40), false);
    ASSERT_TRUE(partial);
    EXPECT_FALSE(partial->text.starts_with("beta")) << partial->text;
    EXPECT_FALSE(partial->text.ends_with("gamma")) << partial->text;
    EXPECT_NE(partial->text.find("a g"), std::string::npos) << partial->text;

    // The box is the line's band, 1.25 median line heights tall, whatever the
    // letters' ink: compare with the band of the line below.
    const auto below = select(onLine(35, 56), onLine(80, 56));
    ASSERT_TRUE(below);
    EXPECT_NEAR(whole->rect.height, below->rect.height, 1e-9);
    EXPECT_NEAR((below->rect.y - whole->rect.y) * crop.height * pageHeight, 16, 0.5);

    // Upwards across two lines: the selection still starts on the higher one.
    const auto sel = select(onLine(80, 56), onLine(beta0 + 8, 40));
    ASSERT_TRUE(sel);
    EXPECT_TRUE(sel->text.starts_with("beta")) << sel->text;
    EXPECT_TRUE(sel->text.ends_with("line")) << sel->text;
    ASSERT_EQ(sel->lines.size(), 2u);
    EXPECT_LT(sel->lines[0].y, sel->lines[1].y);
    EXPECT_NEAR(sel->rect.y, sel->lines[0].y, 1e-9);
    EXPECT_NEAR(sel->rect.y + sel->rect.height, sel->lines[1].y + sel->lines[1].height, 1e-9);
}

TEST_F(DocumentSelectionTest, TurnedPagesAnswerInTheirUnturnedSpace) {
    // A turned page leaves the document uncropped: fractions of the whole page.
    for (int degrees : {90, 180, 270}) {
        SCOPED_TRACE(degrees);
        const auto turned = dir / ("turned" + std::to_string(degrees) + ".pdf");
        ASSERT_TRUE(testing::rotatePdf(dir / "script.pdf", turned, degrees));
        ASSERT_TRUE(store.open(turned));
        crop = {0, 0, 1, 1};
        const auto click = select(onLine(gamma0 + 4, 40), onLine(gamma0 + 4, 40));
        ASSERT_TRUE(click);
        EXPECT_EQ(click->text, "gamma");
        const auto drag = select(onLine(beta0 + 8, 40), onLine(35, 56));
        ASSERT_TRUE(drag);
        EXPECT_EQ(drag->text, "beta gamma delta\nSecond");
        const auto hits = search("gamma");
        ASSERT_EQ(hits.size(), 1u);
        for (std::size_t k = 0; k < 4; ++k) EXPECT_NEAR(hits[0].rect.list()[k], click->rect.list()[k], 0.02) << k;
    }
}

TEST_F(DocumentSelectionTest, SearchIgnoresCaseButNotMarks) {
    EXPECT_TRUE(search("a").empty());
    EXPECT_TRUE(search("").empty());
    const auto hits = search("GAMMA");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].page, 0);
    EXPECT_NEAR(hits[0].rect.x * visibleWidth(), at(gamma0, 0).x * visibleWidth(), 1.5);
    EXPECT_NEAR(hits[0].rect.y, at(0, 40).y, 0.02);
    EXPECT_EQ(hits[0].snippet, "Alpha beta gamma delta");
    EXPECT_EQ(search("ro").size(), 1u);
    EXPECT_TRUE(search("gämma").empty());
}

TEST_F(DocumentSelectionTest, SearchLimitKeepsDocumentOrder) {
    std::vector<FixturePage> pages;
    for (int p = 0; p < 3; ++p) pages.push_back({pageWidth, pageHeight, {{30, 40, "cue one cue"}, {30, 60, "cue two"}}});
    openPages(pages);
    const auto all = search("Cue");
    ASSERT_EQ(all.size(), 9u);
    const auto first = search("Cue", 4);
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(first[3].page, 1);
    EXPECT_EQ(first[2].page, 0);
    EXPECT_LT(first[0].rect.x, first[1].rect.x);
    EXPECT_LT(first[1].rect.y, first[2].rect.y);
}

TEST_F(DocumentSelectionTest, MatchAcrossALineEndGetsBothLinesCut) {
    const std::string top = "The opening line of a long speech that runs on and on across the page";
    const std::string next = "until the second line carries the rest of its words along";
    openPages({{pageWidth, pageHeight, {{10, 40, top, 6}, {10, 48, next, 6}}}});
    const auto hits = search("the page until");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_GT(hits[0].rect.height * crop.height * pageHeight, 8);  // two lines tall
    EXPECT_EQ(g_utf8_strlen(hits[0].snippet.c_str(), -1), 120);
    EXPECT_TRUE(hits[0].snippet.starts_with(top)) << hits[0].snippet;
}

}  // namespace
}  // namespace tallowmark
