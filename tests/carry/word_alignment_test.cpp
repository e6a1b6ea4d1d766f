#include "carry/word_alignment.hpp"

#include "carry/marks_carry.hpp"
#include "document/document_store.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace tallowmark {
namespace {

std::vector<std::string> split(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

std::vector<std::uint64_t> hashes(const std::vector<std::string>& words) {
    std::vector<std::uint64_t> out;
    for (const auto& w : words) out.push_back(wordHash(w));
    return out;
}

// "a>b" for each matched pair, by word text, so a failure reads as the words.
std::string pairs(const std::string& from, const std::string& to) {
    const auto a = split(from), b = split(to);
    const auto map = alignWords(hashes(a), hashes(b));
    std::string out;
    for (std::size_t i = 0; i < map.size(); ++i) {
        if (map[i] < 0) continue;
        EXPECT_EQ(a[i], b[static_cast<std::size_t>(map[i])]) << "matched different words";
        out += (out.empty() ? "" : " ") + std::to_string(i) + ">" + std::to_string(map[i]);
    }
    return out;
}

TEST(WordAlignment, MatchesTheWordsThatSurviveAnEdit) {
    struct Case {
        const char* from;
        const char* to;
        const char* expected;
    } cases[] = {
        {"the storm breaks over the house", "the storm breaks over the house", "0>0 1>1 2>2 3>3 4>4 5>5"},
        // an inserted sentence; a cut one; a changed word inside a line
        {"she goes out . he stays", "she goes out . a door slams . he stays", "0>0 1>1 2>2 3>3 4>8 5>9"},
        {"she goes out . a door slams . he stays", "she goes out . he stays", "0>0 1>1 2>2 3>3 8>4 9>5"},
        {"the storm breaks now and then", "the tempest breaks now and then", "0>0 2>2 3>3 4>4 5>5"},
        // the longer side first or second: the library swaps them inside
        {"a b c", "x a b c y z w", "0>1 1>2 2>3"},
        {"x a b c y z w", "a b c", "1>0 2>1 3>2"},
        // two rewritten speeches share only little words: no lone match between them
        {"i never loved the sea or the men on it at all", "what the river gave back was the oar and the rope",
         ""},
        {"", "anything", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(pairs(c.from, c.to), c.expected) << c.from << " | " << c.to;
}

TEST(WordAlignment, AMovedSceneAndALargeScriptStayInOrderAndMatchWhatSurvives) {
    // A long script of repeated common words with rarer ones between; the
    // revision moves nothing but inserts and cuts blocks all through.
    std::mt19937 random(7);
    const std::vector<std::string> common = {"the", "a", "and", "to", "of", "you", "i", "is", "it", "in"};
    std::vector<std::string> a;
    for (int i = 0; i < 150'000; ++i)
        a.push_back(random() % 3 == 0 ? "w" + std::to_string(random() % 20'000) : common[random() % common.size()]);
    std::vector<std::string> b;
    std::vector<int> kept(a.size(), -1);
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (i % 5000 < 40) continue;  // a cut
        if (i % 7000 == 0)
            for (int k = 0; k < 60; ++k) b.push_back("new" + std::to_string(i) + "_" + std::to_string(k));
        kept[i] = static_cast<int>(b.size());
        b.push_back(a[i]);
    }
    const auto map = alignWords(hashes(a), hashes(b));
    std::size_t right = 0, survivors = 0, wrong = 0;
    std::int32_t last = -1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (kept[i] >= 0) ++survivors;
        if (map[i] < 0) continue;
        ASSERT_GT(map[i], last) << "order broken at " << i;
        last = map[i];
        (map[i] == kept[i] ? right : wrong) += 1;
    }
    // Where a cut block begins with the word that follows it, either "the"
    // is as good as the other: a few such ties, never more.
    EXPECT_LT(wrong, survivors / 10'000);
    EXPECT_GT(right, survivors * 99 / 100);
}

}  // namespace
}  // namespace tallowmark

namespace tallowmark {
namespace {

// A word a line-end hyphen broke in one draft and the other prints whole is
// one word: a cue over it is placed, not sent back as changed.
TEST(ScriptWordsCarry, AWordBrokenAtALineEndIsTheWordPrintedWhole) {
    testing::TempDir dir;
    const auto oldPdf = dir / "old.pdf", newPdf = dir / "new.pdf";
    testing::writePdf(oldPdf, {{300, 400, {{20, 40, "The storm breaks over the bas-"}, {20, 56, "ket of apples here"}}}});
    testing::writePdf(newPdf, {{400, 400, {{20, 40, "The storm breaks over the basket of apples here"}}}});
    DocumentStore old, target;
    ASSERT_TRUE(old.open(oldPdf) && target.open(newPdf));
    const auto hit = old.search("over the", 1);
    ASSERT_EQ(hit.size(), 1u);
    const double y1 = hit[0].rect.y + hit[0].rect.height / 2;
    const auto lines = old.pageLineTexts(0);
    ASSERT_EQ(lines.size(), 2u);
    const double y2 = lines[1].rect.y + lines[1].rect.height / 2;
    const auto drag = old.textSelection(0, {hit[0].rect.x + 0.01, y1}, {lines[1].rect.x + 0.05, y2}, true);
    ASSERT_TRUE(drag);
    CueSidecar marks;
    marks.cues.push_back(Cue{.id = "Q", .number = "1", .label = "", .kind = "SFX", .page = 0, .x = drag->rect.x,
                             .y = drag->rect.y, .w = drag->rect.width, .h = drag->rect.height});
    const CarryRun run = carryFromScript(oldPdf, marks, target, {});
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.result->sidecar.cues.at(0).carry, std::nullopt) << run.result->records.at(0).snippet;
    EXPECT_EQ(run.result->placed, 1);
}

}  // namespace
}  // namespace tallowmark
