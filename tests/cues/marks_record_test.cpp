// The record's own rules; what the run and the file make of each edit is the engine's test.
#include "cues/marks_record.hpp"

#include <gtest/gtest.h>

#include "cue_fixtures.hpp"

namespace tallowmark {
namespace {

using testing::numberedCue;
using testing::sidecarOf;
using testing::withID;

// "id:number" of every cue, in script order.
std::string cuesOf(const MarksRecord& record) {
    std::string text;
    for (const Cue& c : record.ordered()) text += (text.empty() ? "" : " ") + c.id + ":" + c.number;
    return text;
}

TEST(MarksRecord, UpsertReplacesTheFirstOfItsIdInPlaceOrAppendsAndRemoveGoesById) {
    MarksRecord record;
    Cue again = numberedCue(1);
    again.label = "toinen";
    record.upsert(std::vector<Cue>{numberedCue(1), numberedCue(2), numberedCue(3), again});
    EXPECT_EQ(record.undoDepth(), 1u) << "a batch is one step";
    EXPECT_EQ(record.sidecar().cues[0].label, "toinen") << "a later duplicate in the batch wins";
    Cue moved = numberedCue(2);
    moved.y = 0.9;  // to the end in script order, still second in the list
    record.upsert({moved});
    EXPECT_EQ(record.sidecar().cues[1].y, 0.9);
    EXPECT_EQ(cuesOf(record), "c1:1 c3:3 c2:2");
    record.removeCues({"c3", "other"});
    EXPECT_EQ(cuesOf(record), "c1:1 c2:2");
}

TEST(MarksRecord, RemovingAnInsertTakesTheCuesOnItAndNothingElse) {
    MarksRecord record;
    Cue onLine1 = numberedCue(3), onLine2 = numberedCue(4);
    onLine1.insertID = onLine2.insertID = "ins";
    record.upsert(std::vector<Cue>{numberedCue(1), numberedCue(2), onLine1, onLine2});
    record.upsert(withID<Insert>("ins"));
    record.upsert(std::vector<Mark>{Mark{}});
    // Cues on the script text carry an empty insertID: an empty id must not match them.
    EXPECT_FALSE(record.removeInsert("").taken);
    EXPECT_EQ(record.removeInsert("ins").removedCues, (MarksRecord::IdSet{"c3", "c4"}));
    EXPECT_EQ(cuesOf(record), "c1:1 c2:2");
    EXPECT_TRUE(record.sidecar().inserts.empty() && record.sidecar().marks.size() == 1);
}

TEST(MarksRecord, RenumberFollowsScriptOrderAndKeepsTheList) {
    MarksRecord record;
    Cue a = numberedCue(1), b = numberedCue(2);
    a.number = "5", b.number = "3";
    record.upsert(std::vector<Cue>{b, a});  // list order differs from script order
    EXPECT_TRUE(record.renumberCues().taken);
    EXPECT_EQ(cuesOf(record), "c1:1 c2:2");
    EXPECT_EQ(record.sidecar().cues[0].id, "c2") << "the list keeps its order";
    b.id = a.id;  // a hand-edited file may repeat an id
    record.load(sidecarOf({b, a}));
    record.renumberCues();
    EXPECT_EQ(cuesOf(record), "c1:1 c1:2");
}

TEST(MarksRecord, APageTextOfOnlySpaceGoesAndTheSpreadOffsetIsZeroOrOne) {
    MarksRecord record;
    record.setPageText(2, "  teksti "), record.setPageText(3, "x"), record.setPageText(3, " \n\t\u3000");
    EXPECT_EQ(record.sidecar().pageTexts, (std::map<std::string, std::string>{{"2", "  teksti "}}));
    for (const auto& [given, stored] : {std::pair{2, 1}, std::pair{-1, 1}, std::pair{0, 0}})
        EXPECT_EQ((record.setSpreadOffset(given), record.sidecar().spreadOffset), stored) << given;
}

TEST(MarksRecord, FiftyWholeRecordStepsAreKeptAndANewEditEndsRedo) {
    MarksRecord record;
    record.upsert({numberedCue(1)});
    record.setCrop({0.1, 0.1, 0.5, 0.5});
    for (int n = 2; n <= 51; ++n) record.upsert({numberedCue(n)});
    record.setCrop({0.2, 0.2, 0.5, 0.5});
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(record.undo()) << i;
    EXPECT_FALSE(record.undo());
    EXPECT_EQ(cuesOf(record), "c1:1");
    EXPECT_EQ(record.sidecar().crop, (std::vector<double>{0.1, 0.1, 0.5, 0.5})) << "changes without a step go too";
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(record.redo());
    EXPECT_EQ(record.sidecar().cues.size(), 51u);
    EXPECT_FALSE(record.redo());

    ASSERT_TRUE(record.undo());
    record.upsert({numberedCue(52)});
    EXPECT_FALSE(record.redo());
    record.load(testing::sidecarWithCues(1));  // another script's marks: the history never carries over
    EXPECT_FALSE(record.undo() || record.redo());
}

TEST(MarksRecord, TakingOverAnotherFilesMarksKeepsTheScriptsOwnSettings) {
    CueSidecar mine = sidecarOf({numberedCue(1)}), theirs = testing::sidecarWithCues(3);
    mine.documentName = "Show.pdf", mine.crop = {0.1, 0.1, 0.8, 0.8}, mine.spreadOffset = 1;
    theirs.version = 2, theirs.documentName = "Other.pdf", theirs.crop = {0.5, 0.5, 0.1, 0.1};
    theirs.pageLabelOffset = 4, theirs.pageTexts["1"] = "x", theirs.marks.push_back(Mark{});
    MarksRecord record;
    record.load(mine);
    record.takeOver(theirs);
    CueSidecar expected = theirs;
    expected.documentName = mine.documentName, expected.crop = mine.crop, expected.spreadOffset = mine.spreadOffset;
    EXPECT_EQ(record.sidecar(), expected);
    ASSERT_TRUE(record.undo());
    EXPECT_EQ(record.sidecar(), mine);
}

TEST(MarksRecord, ScriptOrderIsPageThenYThenXAndStableForTies) {
    CueSidecar sidecar;
    const std::tuple<const char*, int, double, double> placed[] = {
        {"late", 2, 0.1, 0.1}, {"tieA", 1, 0.5, 0.5}, {"right", 1, 0.5, 0.9}, {"tieB", 1, 0.5, 0.5}, {"top", 1, 0.2, 0.9}};
    for (const auto& [id, page, y, x] : placed) {
        Cue& cue = sidecar.cues.emplace_back(withID<Cue>(id));
        cue.page = page, cue.x = x, cue.y = y;
    }
    MarksRecord record;
    record.load(sidecar);
    EXPECT_EQ(cuesOf(record), "top: tieA: tieB: right: late:");
}

TEST(MarksRecord, CueNumbersMatchByTheirNormalForm) {
    const std::pair<const char*, const char*> cases[] = {
        {" q7a ", "Q7A"}, {"\tq7a\t", "Q7A"}, {"\xc2\xa0" "7", "7"},  // a no-break space trims like a space
        {"\n12", "\n12"}, {"", ""}, {"12.0", "12"}, {"012", "12"}, {"-0", "0"}, {"1e3", "1000"}, {"12.50", "12.50"},
        {"999999999.0", "999999999"}, {"1e9", "1E9"}, {"inf", "INF"}, {"straße", "STRASSE"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(MarksRecord::normalize(in), out) << "'" << in << "'";

    MarksRecord record;
    Cue a = withID<Cue>("a"), b = withID<Cue>("b");
    a.number = "12.5", b.number = "12";
    record.load(sidecarOf({a, b}));
    EXPECT_EQ(record.findByNumber("12.5")->id, "a");
    EXPECT_FALSE(record.findByNumber("12.50"));
    EXPECT_EQ(record.findByNumber(" 12.0 ")->id, "b");
}

}  // namespace
}  // namespace tallowmark
