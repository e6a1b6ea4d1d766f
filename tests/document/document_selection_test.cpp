// Clicks, drags and searches on pages the tests set, and on script pages as real producers set them.
#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>

#include "document/layout_pdf.hpp"
#include "store_test.hpp"

namespace tallowmark {
namespace {

using testing::FixturePage;
using testing::LibraryWord;

double wordStart(const std::string& before) { return 30 + testing::textWidth(before); }

// Three lines of 12 pt type from x 30, 16 pt apart.
const FixturePage threeLines{300, 400, {{30, 40, "Alpha beta gamma delta"}, {30, 56, "Second line here"},
                                        {30, 72, "Third row"}}};

class DocumentSelectionTest : public testing::StoreTest {
protected:
    void SetUp() override { openPages({threeLines}); }
    ViewPoint onLine(double x, double top) const { return at(x, top + 8); }
    double visibleWidth() const { return crop.width * width; }
    std::optional<DocumentStore::Selection> select(ViewPoint from, ViewPoint to, bool snapWords = true, int page = 0) {
        return store.textSelection(page, from, to, snapWords);
    }

    const double beta0 = wordStart("Alpha "), beta1 = wordStart("Alpha beta");
    const double gamma0 = wordStart("Alpha beta "), gamma1 = wordStart("Alpha beta gamma");
    const double delta0 = wordStart("Alpha beta gamma ");
};

TEST_F(DocumentSelectionTest, ClickSelectsTheWordUnderThePointer) {
    for (bool snapWords : {true, false}) {
        // Travel just under the click threshold on both axes.
        const auto sel = select(onLine(gamma0 + 2, 40), onLine(gamma0 + 9.9, 40 + 7.9), snapWords);
        ASSERT_TRUE(sel && sel->lines.size() == 1u);
        EXPECT_EQ(sel->text, "gamma");
        // Glyph boxes are the font's advance boxes, not the ink: close to where pango set the word.
        testing::expectNear({sel->rect.x, sel->rect.maxX(), 0, 0}, {at(gamma0, 0).x, at(gamma1, 0).x, 0, 0},
                            1.5 / visibleWidth());
        // A word space on either side, not the open space of a margin; "delta" lies further on.
        EXPECT_TRUE(sel->gapL > 0 && sel->gapL * visibleWidth() <= gamma0 - beta1) << sel->gapL;
        EXPECT_TRUE(sel->gapR > 0 && sel->gapR * visibleWidth() <= delta0 - gamma1) << sel->gapR;
        EXPECT_GT(sel->lineEnd, sel->rect.maxX());
    }
    // The last word of a line has open space to its right.
    const auto last = select(onLine(delta0 + 3, 40), onLine(delta0 + 3, 40)).value();
    EXPECT_EQ(last.text, "delta");
    EXPECT_NEAR(last.gapR, 1000 / visibleWidth(), 1e-9);
    EXPECT_NEAR(last.lineEnd, last.rect.maxX(), 0.01);
    EXPECT_FALSE(select(at(250, 300), at(250, 300))) << "nothing under the pointer";
}

TEST_F(DocumentSelectionTest, DragsSelectWholeWordsFromTheHigherLineDown) {
    // From inside "beta" to inside "gamma", wandering less than a line spacing, either way.
    const auto whole = select(onLine(beta0 + 8, 40), onLine(gamma0 + 15, 40 + 9));
    ASSERT_TRUE(whole && whole->lines.size() == 1u);
    EXPECT_EQ(whole->text, "beta gamma");
    EXPECT_EQ(select(onLine(gamma0 + 15, 40), onLine(beta0 + 8, 40))->text, whole->text);
    const auto partial = select(onLine(beta0 + 8, 40), onLine(gamma0 + 15, 40), false);
    ASSERT_TRUE(partial);
    EXPECT_TRUE(!partial->text.starts_with("beta") && !partial->text.ends_with("gamma")) << partial->text;
    EXPECT_NE(partial->text.find("a g"), std::string::npos) << partial->text;

    // The box is the line's band, whatever the letters' ink: as tall as the band of the line below.
    const auto below = select(onLine(35, 56), onLine(80, 56)).value();
    EXPECT_NEAR(whole->rect.height, below.rect.height, 1e-9);
    EXPECT_NEAR((below.rect.y - whole->rect.y) * crop.height * height, 16, 0.5);

    // Upwards across two lines: the selection still starts on the higher one.
    const auto sel = select(onLine(80, 56), onLine(beta0 + 8, 40));
    ASSERT_TRUE(sel && sel->lines.size() == 2u);
    EXPECT_EQ(sel->text, "beta gamma delta\nSecond line");
    EXPECT_LT(sel->lines[0].y, sel->lines[1].y);
    EXPECT_NEAR(sel->rect.y, sel->lines[0].y, 1e-9);
    EXPECT_NEAR(sel->rect.maxY(), sel->lines[1].maxY(), 1e-9);
}

// A word on lines set closer than their type is tall is boxed in its own line's band.
TEST_F(DocumentSelectionTest, AGrazedNeighbourLineStaysOutOfTheBox) {
    openPages({{300, 400, {{30, 40, "Alpha beta gamma"}, {30, 51, "Second line here"}, {30, 62, "Third row"}}}},
              "tight.pdf");
    for (const double top : {40.0, 51.0}) {
        const double tall = select(onLine(35, top), onLine(35, top)).value().rect.height * crop.height * height;
        EXPECT_TRUE(tall > 11 && tall < 20) << top << " " << tall;
    }
}

// The second page is the first turned, which keeps the document uncropped: fractions of the whole page.
TEST_F(DocumentSelectionTest, TurnedPagesAnswerInTheirUnturnedSpace) {
    const auto twice = pdf("twice.pdf", {threeLines, threeLines});
    crop = {0, 0, 1, 1};
    for (int degrees : {90, 180, 270}) {
        SCOPED_TRACE(degrees);
        const auto turned = dir / ("turned" + std::to_string(degrees) + ".pdf");
        ASSERT_TRUE(testing::rotatePdf(twice, turned, degrees, "2"));
        ASSERT_TRUE(store.open(turned));
        EXPECT_TRUE(cropList(store.automaticCrop()).empty());
        EXPECT_FALSE(store.allPageLines());
        const auto lines = store.pageLines(0), turnedLines = store.pageLines(1);
        ASSERT_EQ(lines.size(), 3u);
        testing::expectNear({lines[0].x, lines[0].y, lines[2].x, lines[2].y}, {0.1, 0.1, 0.1, 0.18}, 0.003);
        EXPECT_NEAR(lines[0].height, 12.0 / 400, 0.01);
        ASSERT_EQ(turnedLines.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) testing::expectNear(turnedLines[i].list(), lines[i].list(), 1e-6);
        const auto click = select(onLine(gamma0 + 4, 40), onLine(gamma0 + 4, 40), true, 1).value();
        EXPECT_EQ(click.text, "gamma");
        EXPECT_EQ(select(onLine(beta0 + 8, 40), onLine(35, 56), true, 1)->text, "beta gamma delta\nSecond");
        const auto hits = store.search("gamma", 300);
        ASSERT_EQ(hits.size(), 2u);
        testing::expectNear(hits[1].rect.list(), click.rect.list(), 0.02);
    }
}

TEST_F(DocumentSelectionTest, MatchAcrossALineEndGetsBothLinesCut) {
    const std::string top = "The opening line of a long speech that runs on and on across the page";
    openPages({{300, 400, {{10, 40, top, 6}, {10, 48, "until the second line carries the rest of its words", 6}}}});
    const auto hits = store.search("the page until", 300);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_GT(hits[0].rect.height * crop.height * height, 8);  // two lines tall
    EXPECT_EQ(g_utf8_strlen(hits[0].snippet.c_str(), -1), 120);
    EXPECT_TRUE(hits[0].snippet.starts_with(top)) << hits[0].snippet;
}

// Script pages as real producers set them, each the one page of its own file.
const std::pair<const char*, FixturePage (*)()> scripts[] = {
    {"two columns", testing::twoColumnScriptPage}, {"spread", testing::spreadPage}, {"tight", testing::tightSetPage}};

class ScriptLayoutTest : public testing::StoreTest {
protected:
    std::vector<LibraryWord> open(std::size_t script) {
        const auto path = openPages({scripts[script].second()}, std::string(scripts[script].first) + ".pdf");
        auto library = testing::libraryWords(path);
        EXPECT_EQ(library.size(), 1u);
        return library.empty() ? std::vector<LibraryWord>{} : library[0];
    }
    ViewPoint middleOf(const LibraryWord& w) const { return at((w.xMin + w.xMax) / 2, (w.yMin + w.yMax) / 2); }
};

// Lines are made of the library's words: a click on any word selects the word the library reads there.
TEST_F(ScriptLayoutTest, AClickOnAnyWordSelectsTheLibrarysWord) {
    for (std::size_t script = 0; script < std::size(scripts); ++script) {
        SCOPED_TRACE(scripts[script].first);
        const auto library = open(script);
        ASSERT_FALSE(library.empty());
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
        {1, "for#3", "you.", "for you.", 1},
        {1, "ferry", "across", "ferry waits for no one.\nNot even for you.\nThen row me across", 3},
        // Tight lines: the library's words, however close.
        {2, "water", "old", "waterclimbstheold", 1},
        {2, "walls", "tonight.", "walls tonight.", 1},
    };
    for (const auto& [page, from, to, text, lineCount] : drags) {
        SCOPED_TRACE(from + " .. " + to);
        const auto words = open(page);
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
        EXPECT_EQ(std::pair(sel->text, sel->lines.size()), std::pair(text, lineCount));
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
        open(page);
        std::vector<std::string> snippets;
        for (const auto& hit : store.search(query, 300)) snippets.push_back(hit.snippet);
        EXPECT_EQ(snippets, expected);
    }
}

// Four pages: names in capitals, a phrase and a hyphen across line ends, marks and
// ligatures, an empty page, a landscape one.
std::vector<FixturePage> scene() {
    return {
        {420, 595,
         {{40, 40, "MARGARET.  Where is the ferry tonight, Thomas?", 11},
          {40, 56, "THOMAS.  Gone across the harbour with the tide,", 11},
          {40, 72, "and the lanterns swing above the water. Margaret,", 11},
          {40, 88, "the last light beside the café window is out.", 11},
          {40, 104, "MARGARET.  The final office of the evening, then.", 11},
          {40, 120, "ÄITI.  Äiti sanoo: the ferry waits for no one.", 11}}},
        {420, 595, {}},
        {420, 595,
         {{40, 40, "THOMAS.  The storm-", 11},
          {40, 56, "tossed sea took the ferry and the harbour light.", 11},
          {40, 72, "MARGARET.  Then the office is closed for good.", 11}}},
        {595, 420,
         {{60, 60, "MARGARET.  Thomas, the tide.", 11}, {330, 60, "THOMAS.  The tide, Margaret.", 11}}},
    };
}

// Each query with its hits as "page: snippet", in order.
const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
    {"margaret",
     {"0: MARGARET. Where is the ferry tonight, Thomas?", "0: and the lanterns swing above the water. Margaret,",
      "0: MARGARET. The final office of the evening, then.", "2: MARGARET. Then the office is closed for good.",
      "3: MARGARET. Thomas, the tide.", "3: THOMAS. The tide, Margaret."}},
    {"Margaret, the last",
     {"0: and the lanterns swing above the water. Margaret,\nthe last light beside the café window is out."}},
    {"storm- tossed", {"2: THOMAS. The storm-\ntossed sea took the ferry and the harbour light."}},
    {"café", {"0: the last light beside the café window is out."}},
    {"äiti", {"0: ÄITI. Äiti sanoo: the ferry waits for no one.", "0: ÄITI. Äiti sanoo: the ferry waits for no one."}},
    {"final", {"0: MARGARET. The final office of the evening, then."}},  // ligatures in the type
    {"office", {"0: MARGARET. The final office of the evening, then.", "2: MARGARET. Then the office is closed for good."}},
    {"tide, margaret", {"3: THOMAS. The tide, Margaret."}},
    {"cafe", {}}, {"nowhere", {}}, {"a", {}}, {"", {}},
};

class DocumentSearchTest : public testing::StoreTest {
protected:
    std::vector<std::size_t> sizes;  // each page's words, in bytes
    std::map<std::string, std::vector<DocumentStore::SearchHit>> first;  // the answers of the first search

    void SetUp() override {
        testing::writePdf(dir / "scene.pdf", scene());
        ASSERT_TRUE(store.open(dir / "scene.pdf"));
        const auto layout = LayoutPdf::open(readPdfBytes(dir / "scene.pdf"));
        ASSERT_TRUE(layout);
        for (int i = 0; i < layout->pageCount(); ++i) {
            const auto words = layout->takeWords(i);
            ASSERT_TRUE(words);
            sizes.push_back(LayoutPdf::footprint(*words));
        }
        EXPECT_EQ(layout->keptWordsBytes(), 0u);  // taken words are not kept
    }

    // Every case as written and in capitals, at limits that keep its first hits; each hit as the
    // first search gave it, and a one-word hit within the word a click there selects.
    void expectTable() {
        for (const auto& [query, expected] : cases) {
            gchar* upper = g_utf8_strup(query.c_str(), -1);
            const std::vector<std::string> spellings = {query, upper};
            g_free(upper);
            const auto& reference = first.try_emplace(query, store.search(query, 300)).first->second;
            const int n = static_cast<int>(expected.size());
            for (const std::string& spelled : spellings)
                for (const int limit : {300, 1, n - 1}) {
                    if (limit < 1) continue;
                    SCOPED_TRACE(spelled + " / " + std::to_string(limit));
                    const auto hits = store.search(spelled, limit);
                    ASSERT_EQ(static_cast<int>(hits.size()), std::min(limit, n));
                    for (std::size_t i = 0; i < hits.size(); ++i) {
                        const auto& hit = hits[i];
                        EXPECT_EQ(std::to_string(hit.page) + ": " + hit.snippet, expected[i]);
                        testing::expectNear(hit.rect.list(), reference[i].rect.list(), 1e-9);
                        EXPECT_NEAR(hit.lineEnd, reference[i].lineEnd, 1e-9);
                        EXPECT_GE(hit.lineEnd, hit.rect.maxX() - 1e-6);
                        if (query.find(' ') != std::string::npos) continue;
                        const ViewPoint middle{hit.rect.x + hit.rect.width / 2, hit.rect.y + hit.rect.height / 2};
                        const auto word = store.textSelection(hit.page, middle, middle, true);
                        ASSERT_TRUE(word);
                        EXPECT_NEAR(word->rect.y + word->rect.height / 2, hit.rect.y + hit.rect.height / 2, 1e-9);
                        EXPECT_TRUE(word->rect.x <= hit.rect.x + 1e-9 && hit.rect.maxX() <= word->rect.maxX() + 1e-9);
                    }
                }
        }
    }
};

TEST_F(DocumentSearchTest, AnswersAsBeforeWhereverThePagesWordsComeFrom) {
    EXPECT_GT(store.keptWordsBytes(), 0u);
    expectTable();
    const auto word = store.textSelection(0, {0.3, 0.05}, {0.3, 0.05}, true).value();

    // Words laid out by the searches: the open keeps none on no budget.
    store.setWordsBudget(0);
    ASSERT_TRUE(store.open(dir / "scene.pdf"));
    EXPECT_EQ(store.keptWordsBytes(), 0u);
    store.setWordsBudget(std::numeric_limits<std::size_t>::max());
    expectTable();

    // Room for the largest page only: pages are dropped and laid out again as they come.
    const std::size_t largest = *std::max_element(sizes.begin(), sizes.end());
    EXPECT_GT(store.keptWordsBytes(), largest);
    store.setWordsBudget(largest);
    EXPECT_TRUE(store.keptWordsBytes() > 0 && store.keptWordsBytes() <= largest);
    expectTable();
    EXPECT_LE(store.keptWordsBytes(), largest);
    const auto again = store.textSelection(0, {0.3, 0.05}, {0.3, 0.05}, true).value();
    EXPECT_EQ(again.text, word.text);
    testing::expectNear(again.rect.list(), word.rect.list(), 1e-9);
}

// The open hands over the first pages' words that fit the budget together, and only those.
TEST_F(DocumentSearchTest, TheOpenKeepsTheFirstPagesWithinTheBudget) {
    const PdfBytes bytes = readPdfBytes(dir / "scene.pdf");
    const auto layout = LayoutPdf::open(bytes);
    ASSERT_TRUE(layout);
    for (const std::size_t budget : {std::size_t{0}, sizes[0] + sizes[1], sizes[0] + sizes[1] + sizes[2] - 1}) {
        SCOPED_TRACE(budget);
        const auto collected = DocumentStore::collectPages(bytes, *layout, 1, {}, budget);
        ASSERT_EQ(collected.size(), sizes.size());
        for (std::size_t i = 0; i < sizes.size(); ++i) EXPECT_EQ(collected[i].words != nullptr, i < 2 && budget > 0) << i;
        EXPECT_EQ(layout->keptWordsBytes(), 0u);
    }
}

}  // namespace
}  // namespace tallowmark
