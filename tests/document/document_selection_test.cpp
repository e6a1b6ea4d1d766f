// Clicks, drags and searches on pages the tests set, and on script pages as
// real producers set them: the words and lines must be the PDF library's
// words, kept apart where columns and spreads keep them apart.
#include <gtest/gtest.h>

#include <algorithm>

#include "document/layout_pdf.hpp"
#include "store_test.hpp"

namespace tallowmark {
namespace {

using testing::FixturePage;
using testing::LibraryWord;

// Where a word of the first line starts, in points from the page's left.
double wordStart(const std::string& before) { return 30 + testing::textWidth(before); }

class DocumentSelectionTest : public testing::StoreTest {
protected:
    // Three lines of 12 pt type from x 30, 16 pt apart.
    void SetUp() override {
        openPages({{300, 400, {{30, 40, "Alpha beta gamma delta"}, {30, 56, "Second line here"},
                               {30, 72, "Third row"}}}});
    }
    // The middle of the 12 pt line whose layout box starts at `top`.
    ViewPoint onLine(double x, double top) const { return at(x, top + 8); }
    double visibleWidth() const { return crop.width * width; }
    std::optional<DocumentStore::Selection> select(ViewPoint from, ViewPoint to, bool snapWords = true) {
        return store.textSelection(0, from, to, snapWords);
    }

    const double beta0 = wordStart("Alpha "), beta1 = wordStart("Alpha beta");
    const double gamma0 = wordStart("Alpha beta "), gamma1 = wordStart("Alpha beta gamma");
    const double delta0 = wordStart("Alpha beta gamma ");
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
    EXPECT_EQ(select(onLine(gamma0 + 15, 40), onLine(beta0 + 8, 40))->text, whole->text);

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
    EXPECT_NEAR((below->rect.y - whole->rect.y) * crop.height * height, 16, 0.5);

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

// Lines set closer than their type is tall touch their neighbours: a word on
// one of them is boxed in its own line's band, never grown over the graze.
TEST_F(DocumentSelectionTest, AGrazedNeighbourLineStaysOutOfTheBox) {
    openPages({{300, 400, {{30, 40, "Alpha beta gamma"}, {30, 51, "Second line here"}, {30, 62, "Third row"}}}},
              "tight.pdf");
    for (const double top : {40.0, 51.0}) {
        const auto sel = select(onLine(35, top), onLine(35, top));
        ASSERT_TRUE(sel);
        const double tall = sel->rect.height * crop.height * height;
        EXPECT_GT(tall, 11) << sel->text;
        EXPECT_LT(tall, 20) << sel->text;
    }
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
        EXPECT_EQ(select(onLine(beta0 + 8, 40), onLine(35, 56))->text, "beta gamma delta\nSecond");
        const auto hits = store.search("gamma", 300);
        ASSERT_EQ(hits.size(), 1u);
        testing::expectNear(hits[0].rect.list(), click->rect.list(), 0.02);
    }
}

TEST_F(DocumentSelectionTest, MatchAcrossALineEndGetsBothLinesCut) {
    const std::string top = "The opening line of a long speech that runs on and on across the page";
    const std::string next = "until the second line carries the rest of its words along";
    openPages({{300, 400, {{10, 40, top, 6}, {10, 48, next, 6}}}});
    const auto hits = store.search("the page until", 300);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_GT(hits[0].rect.height * crop.height * height, 8);  // two lines tall
    EXPECT_EQ(g_utf8_strlen(hits[0].snippet.c_str(), -1), 120);
    EXPECT_TRUE(hits[0].snippet.starts_with(top)) << hits[0].snippet;
}

struct ScriptPage {
    const char* name;
    FixturePage page;
    // Ranges of x (points) no line may reach across: column gaps, the gutter.
    std::vector<std::pair<double, double>> gaps;
};

std::vector<ScriptPage> scriptPages() {
    return {{"two columns", testing::twoColumnScriptPage(), {{92, 129}, {80, 93}}},
            {"spread", testing::spreadPage(), {{300, 470}}},
            {"tight", testing::tightSetPage(), {}}};
}

class ScriptLayoutTest : public testing::StoreTest {
protected:
    // The script's one page as the library reads it.
    std::vector<LibraryWord> open(const ScriptPage& script) {
        const auto path = openPages({script.page}, std::string(script.name) + ".pdf");
        auto library = testing::libraryWords(path);
        EXPECT_EQ(library.size(), 1u);
        return library.empty() ? std::vector<LibraryWord>{} : library[0];
    }
    ViewPoint middleOf(const LibraryWord& w) const { return at((w.xMin + w.xMax) / 2, (w.yMin + w.yMax) / 2); }
};

TEST_F(ScriptLayoutTest, LinesAreMadeOfTheLibrarysWordsAndKeepColumnsApart) {
    for (const ScriptPage& script : scriptPages()) {
        SCOPED_TRACE(script.name);
        const auto library = open(script);
        ASSERT_FALSE(library.empty());
        const auto layout = LayoutPdf::open(readPdfBytes(dir / (std::string(script.name) + ".pdf")));
        ASSERT_TRUE(layout);
        const std::vector<TextLine> lines = layout->textLines(0);

        // Every library word lies in exactly one line, in the library's order,
        // and each line is its words and nothing else.
        std::vector<std::string> spelled(lines.size());
        std::vector<int> lastIndex(lines.size(), -1);
        for (std::size_t i = 0; i < library.size(); ++i) {
            const LibraryWord& w = library[i];
            const PagePoint middle{(w.xMin + w.xMax) / 2, height - (w.yMin + w.yMax) / 2};
            std::vector<std::size_t> holders;
            for (std::size_t k = 0; k < lines.size(); ++k) {
                const PageRect& r = lines[k].rect;
                if (middle.x > r.minX() && middle.x < r.maxX() && middle.y > r.minY() && middle.y < r.maxY())
                    holders.push_back(k);
            }
            ASSERT_EQ(holders.size(), 1u) << w.text;
            spelled[holders[0]] += w.text;
            EXPECT_LT(lastIndex[holders[0]], static_cast<int>(i)) << w.text;
            lastIndex[holders[0]] = static_cast<int>(i);
        }
        for (std::size_t k = 0; k < lines.size(); ++k) {
            std::string text = lines[k].text;
            std::erase_if(text, [](char c) { return c == ' ' || c == '\n'; });
            EXPECT_EQ(text, spelled[k]);
            // One baseline: no taller than one word.
            EXPECT_LT(lines[k].rect.height, 1.2 * (library[0].yMax - library[0].yMin)) << lines[k].text;
            for (const auto& [from, to] : script.gaps)
                EXPECT_FALSE(lines[k].rect.minX() < from && lines[k].rect.maxX() > to) << lines[k].text;
        }
        // A click on any word selects the library's word there.
        for (const LibraryWord& w : library) {
            const auto click = store.textSelection(0, middleOf(w), middleOf(w), true);
            ASSERT_TRUE(click) << w.text;
            EXPECT_EQ(click->text, w.text);
        }
    }
}

TEST_F(ScriptLayoutTest, DragsFollowTheLinesInReadingOrderAndSearchReadsTheLibrarysSpaces) {
    // From the first word to the second (each "text" or "text#occurrence"): the selection and its lines.
    const std::tuple<std::size_t, std::string, std::string, std::string, std::size_t> drags[] = {
        // Along the speech beside a name: the name stays out.
        {0, "Do", "that.", "Do not touch that.", 1},
        {0, "not", "house.", "not touch that.\nIt is older than the house.", 2},
        // Down the speech past the next name, which belongs to the other column.
        {0, "house.", "keep", "house.\nOlder than the river.\nThen why keep", 3},
        {0, "TOMAS", "WARDEN#2", "TOMAS\nWARDEN", 2},
        // Inside the right half of a spread.
        {1, "ferry", "one.", "ferry waits for no one.", 1},
        {1, "TOMAS#2", "TOMAS#2", "TOMAS", 1},
        {1, "for#3", "you.", "for you.", 1},
        {1, "ferry", "across", "ferry waits for no one.\nNot even for you.\nThen row me across", 3},
        // Tight lines: the library's words, however close.
        {2, "pipes.", "pipes.", "pipes.", 1},
        {2, "water", "old", "waterclimbstheold", 1},
        {2, "walls", "tonight.", "walls tonight.", 1},
    };
    const auto scripts = scriptPages();
    for (const auto& [page, from, to, text, lineCount] : drags) {
        SCOPED_TRACE(from + " .. " + to);
        const auto words = open(scripts[page]);
        const auto word = [&](const std::string& spelled) {
            const auto hash = spelled.find('#');
            int occurrence = hash == std::string::npos ? 1 : std::stoi(spelled.substr(hash + 1));
            for (const LibraryWord& w : words)
                if (w.text == spelled.substr(0, hash) && --occurrence == 0) return middleOf(w);
            ADD_FAILURE() << "no word " << spelled;
            return ViewPoint{};
        };
        const auto sel = store.textSelection(0, word(from), word(to), true);
        ASSERT_TRUE(sel);
        EXPECT_EQ(sel->text, text);
        EXPECT_EQ(sel->lines.size(), lineCount);
    }

    const std::tuple<std::size_t, std::string, std::vector<std::string>> searches[] = {
        {0, "vanha", {"vanha lautturi"}},
        {0, "warden", {"WARDEN", "WARDEN"}},
        {0, "house. older", {"It is older than the house.\nOlder than the river."}},
        {1, "for", {"Once for each of us.", "The ferry waits for no one.", "Not even for you.", "before the light goes."}},
        {2, "climbs", {"Thewaterclimbstheoldpipes."}},
        {2, "the walls", {"Listen to the walls tonight."}},
    };
    for (const auto& [page, query, expected] : searches) {
        SCOPED_TRACE(query);
        open(scripts[page]);
        std::vector<std::string> snippets;
        for (const auto& hit : store.search(query, 300)) snippets.push_back(hit.snippet);
        EXPECT_EQ(snippets, expected);
    }
}

TEST_F(ScriptLayoutTest, BothFootNumbersOfASpreadArePageNumbers) {
    open(scriptPages()[1]);
    const auto pages = store.allPageLines();
    ASSERT_TRUE(pages && pages->size() == 1u);
    std::vector<bool> flags;
    for (const auto& line : (*pages)[0]) flags.push_back(line.pageNumber);
    ASSERT_GE(flags.size(), 2u);
    EXPECT_EQ(std::count(flags.begin(), flags.end(), true), 2);
    EXPECT_TRUE(flags[flags.size() - 1] && flags[flags.size() - 2]);
    // Dropping them crops the sheet to the speeches.
    ASSERT_TRUE(store.setDropPageNumbers(true));
    const auto cropped = cropList(store.automaticCrop());
    ASSERT_EQ(cropped.size(), 4u);
    EXPECT_LT(cropped[1] + cropped[3], 300.0 / 595);
}

}  // namespace
}  // namespace tallowmark
