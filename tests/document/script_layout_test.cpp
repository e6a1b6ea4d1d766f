#include <gtest/gtest.h>

#include <algorithm>

#include "document/document_store.hpp"
#include "document/layout_pdf.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

// Script pages as real producers set them: the words and lines must be the
// PDF library's words, kept apart where columns and spreads keep them apart.

namespace tallowmark {
namespace {

using testing::FixturePage;
using testing::LibraryWord;
using testing::TempDir;

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

std::string withoutSpaces(std::string text) {
    std::erase_if(text, [](char c) { return c == ' ' || c == '\n'; });
    return text;
}

class ScriptLayoutTest : public ::testing::Test {
protected:
    TempDir dir;
    DocumentStore store;
    PageCrop crop;
    double width = 0, height = 0;

    std::filesystem::path open(const ScriptPage& script) {
        const auto path = dir / (std::string(script.name) + ".pdf");
        testing::writePdf(path, {script.page});
        EXPECT_TRUE(store.open(path));
        crop = store.pageCrop(0).value_or(PageCrop{0, 0, 1, 1});
        width = script.page.width;
        height = script.page.height;
        return path;
    }
    // A point in page points from the top-left, as the page sends it.
    ViewPoint at(double x, double top) const {
        return {(x / width - crop.x) / crop.width, (top / height - crop.y) / crop.height};
    }
    ViewPoint middleOf(const LibraryWord& w) const { return at((w.xMin + w.xMax) / 2, (w.yMin + w.yMax) / 2); }
    std::optional<DocumentStore::Selection> select(ViewPoint from, ViewPoint to) {
        return store.textSelection(0, from, to, true);
    }
};

TEST_F(ScriptLayoutTest, LinesAreMadeOfTheLibrarysWordsAndKeepColumnsApart) {
    for (const ScriptPage& script : scriptPages()) {
        SCOPED_TRACE(script.name);
        const auto path = open(script);
        const auto library = testing::libraryWords(path);
        ASSERT_EQ(library.size(), 1u);
        ASSERT_FALSE(library[0].empty());
        const auto layout = LayoutPdf::open(readPdfBytes(path));
        ASSERT_TRUE(layout);
        const std::vector<TextLine> lines = layout->textLines(0);

        // Every library word lies in exactly one line, in the library's order,
        // and each line is its words and nothing else.
        std::vector<std::string> spelled(lines.size());
        std::vector<int> lastIndex(lines.size(), -1);
        for (std::size_t i = 0; i < library[0].size(); ++i) {
            const LibraryWord& w = library[0][i];
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
            EXPECT_EQ(withoutSpaces(lines[k].text), spelled[k]);
            // One baseline: no taller than one word.
            EXPECT_LT(lines[k].rect.height, 1.2 * (library[0][0].yMax - library[0][0].yMin)) << lines[k].text;
            for (const auto& [from, to] : script.gaps)
                EXPECT_FALSE(lines[k].rect.minX() < from && lines[k].rect.maxX() > to) << lines[k].text;
        }

        // A click on any word selects the library's word there.
        for (const LibraryWord& w : library[0]) {
            const auto click = select(middleOf(w), middleOf(w));
            ASSERT_TRUE(click) << w.text;
            EXPECT_EQ(click->text, w.text);
        }
    }
}

// The `occurrence`th library word reading `text`.
const LibraryWord& word(const std::vector<LibraryWord>& words, const std::string& text, int occurrence = 1) {
    for (const LibraryWord& w : words)
        if (w.text == text && --occurrence == 0) return w;
    ADD_FAILURE() << "no word " << text;
    return words.front();
}

TEST_F(ScriptLayoutTest, DragsFollowTheLinesInReadingOrderAndSearchReadsTheLibrarysSpaces) {
    struct Drag {
        std::size_t page;
        std::string from;
        int fromOccurrence;
        std::string to;
        int toOccurrence;
        std::string text;
        std::size_t lines;
    };
    const std::vector<Drag> drags = {
        // Along the speech beside a name: the name stays out.
        {0, "Do", 1, "that.", 1, "Do not touch that.", 1},
        {0, "not", 1, "house.", 1, "not touch that.\nIt is older than the house.", 2},
        // Down the speech past the next name, which belongs to the other column.
        {0, "house.", 1, "keep", 1, "house.\nOlder than the river.\nThen why keep", 3},
        {0, "TOMAS", 1, "WARDEN", 2, "TOMAS\nWARDEN", 2},
        // Inside the right half of a spread.
        {1, "ferry", 1, "one.", 1, "ferry waits for no one.", 1},
        {1, "TOMAS", 2, "TOMAS", 2, "TOMAS", 1},
        {1, "for", 3, "you.", 1, "for you.", 1},
        {1, "ferry", 1, "across", 1, "ferry waits for no one.\nNot even for you.\nThen row me across", 3},
        // Tight lines: the library's words, however close.
        {2, "pipes.", 1, "pipes.", 1, "pipes.", 1},
        {2, "water", 1, "old", 1, "waterclimbstheold", 1},
        {2, "walls", 1, "tonight.", 1, "walls tonight.", 1},
    };
    const auto scripts = scriptPages();
    std::vector<std::vector<LibraryWord>> library;
    for (const Drag& drag : drags) {
        SCOPED_TRACE(drag.from + " .. " + drag.to);
        const auto path = open(scripts[drag.page]);
        const auto words = testing::libraryWords(path);
        ASSERT_EQ(words.size(), 1u);
        const auto sel = select(middleOf(word(words[0], drag.from, drag.fromOccurrence)),
                                middleOf(word(words[0], drag.to, drag.toOccurrence)));
        ASSERT_TRUE(sel);
        EXPECT_EQ(sel->text, drag.text);
        EXPECT_EQ(sel->lines.size(), drag.lines);
    }

    struct Search {
        std::size_t page;
        std::string query;
        std::vector<std::string> snippets;
    };
    const std::vector<Search> searches = {
        {0, "vanha", {"vanha lautturi"}},
        {0, "warden", {"WARDEN", "WARDEN"}},
        {0, "house. older", {"It is older than the house.\nOlder than the river."}},
        {1, "for", {"Once for each of us.", "The ferry waits for no one.", "Not even for you.", "before the light goes."}},
        {2, "climbs", {"Thewaterclimbstheoldpipes."}},
        {2, "the walls", {"Listen to the walls tonight."}},
    };
    for (const Search& search : searches) {
        SCOPED_TRACE(search.query);
        open(scripts[search.page]);
        std::vector<std::string> snippets;
        for (const auto& hit : store.search(search.query, 300)) snippets.push_back(hit.snippet);
        EXPECT_EQ(snippets, search.snippets);
    }
}

TEST_F(ScriptLayoutTest, BothFootNumbersOfASpreadArePageNumbers) {
    open(scriptPages()[1]);
    const auto pages = store.allPageLines();
    ASSERT_TRUE(pages);
    ASSERT_EQ(pages->size(), 1u);
    std::vector<double> flags;
    for (const auto& line : (*pages)[0]) flags.push_back(line.pageNumber ? 1.0 : 0.0);
    ASSERT_GE(flags.size(), 2u);
    EXPECT_EQ(std::count(flags.begin(), flags.end(), 1.0), 2);
    EXPECT_EQ(flags[flags.size() - 1], 1.0);
    EXPECT_EQ(flags[flags.size() - 2], 1.0);
    // Dropping them crops the sheet to the speeches.
    const auto dropped = store.setDropPageNumbers(true);
    ASSERT_TRUE(dropped);
    const auto cropped = cropList(store.automaticCrop());
    ASSERT_EQ(cropped.size(), 4u);
    EXPECT_LT(cropped[1] + cropped[3], 300.0 / 595);
}

}  // namespace
}  // namespace tallowmark
