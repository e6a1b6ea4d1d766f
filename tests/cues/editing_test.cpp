#include <gtest/gtest.h>

#include "cue_fixtures.hpp"

namespace tallowmark {
namespace {

namespace fs = std::filesystem;
using testing::EngineEvents;
using testing::numberedCue;
using testing::readText;

class Editing : public testing::ShowFolder {
protected:
    void SetUp() override {
        engine.loadSidecar(pdf());
        events.attach(engine);
    }
    void addCues(int count) {
        std::vector<Cue> cues;
        for (int n = 1; n <= count; ++n) cues.push_back(numberedCue(n));
        engine.upsert(cues);
    }
    // "id:number" of every cue, in script order.
    std::string cues() const {
        std::string text;
        for (const Cue& c : engine.ordered()) text += (text.empty() ? "" : " ") + c.id + ":" + c.number;
        return text;
    }
    // What the edits so far left behind: undo steps, change reports, and whether backup 1 exists.
    std::string trail() {
        EXPECT_TRUE(engine.flushWrites());
        return "undo " + std::to_string(engine.undoDepth()) + ", reports " + std::to_string(events.stateChanges) +
               (fs::exists(backup(1)) ? ", backup" : "");
    }

    EngineEvents events;
};

TEST_F(Editing, UpsertReplacesInPlaceOrAppendsAndABatchIsOneStep) {
    Cue again = numberedCue(1);
    again.label = "toinen";
    engine.upsert(std::vector<Cue>{numberedCue(1), numberedCue(2), numberedCue(3), again});
    EXPECT_EQ(trail(), "undo 1, reports 1");
    EXPECT_EQ(engine.sidecar().cues[0].label, "toinen") << "a later duplicate in the batch wins";

    Cue changed = numberedCue(2);
    changed.y = 0.9;  // moves to the end in script order, stays second in the list
    engine.upsert(changed);
    EXPECT_EQ(engine.sidecar().cues[1].y, 0.9);
    EXPECT_EQ(cues(), "c1:1 c3:3 c2:2");

    engine.upsert(std::vector<Cue>{});
    engine.upsert(std::vector<Mark>{});
    engine.remove(std::vector<std::string>{});
    engine.removeMarks({});
    EXPECT_EQ(trail(), "undo 2, reports 2, backup") << "an empty batch does nothing at all";
}

TEST_F(Editing, AddedCueTakesStandbyOnlyWhenThereIsNone) {
    addCues(2);
    EXPECT_EQ(run(), "c1 |") << "first added cue of the batch";
    engine.go("x");
    engine.go("x");
    engine.upsert(numberedCue(0));  // before every other cue in script order
    EXPECT_EQ(run(), "c0 | c1 c2");
    engine.upsert(numberedCue(5));
    EXPECT_EQ(run(), "c0 | c1 c2");
}

TEST_F(Editing, RemovingCuesRefillsAMissingStandbyWithTheFirstUnfiredCue) {
    addCues(5);
    engine.fireCue("2", "x");  // standby 3; cue 1 skipped
    engine.remove("c3");
    EXPECT_EQ(run(), "c1 | c2") << "not the cue after the removed one";

    engine.fireCue("5", "x");  // the last cue: standby none
    engine.remove("nope");     // unknown id: still a step and a save
    EXPECT_EQ(run(), "c1 | c2 c5");
    EXPECT_EQ(engine.undoDepth(), 3u);

    engine.remove(std::vector<std::string>{"c2", "c1"});
    EXPECT_EQ(run(), "c4 | c5");
    EXPECT_EQ(cues(), "c4:4 c5:5");
}

TEST_F(Editing, RemoveInsertTakesItsCuesOnlyAndAnEmptyIdTakesNothing) {
    // Cues on the script text carry an empty insertID; an empty id must not match them.
    addCues(2);
    engine.upsert(Insert{.id = "ins"});
    Cue onLine1 = numberedCue(3), onLine2 = numberedCue(4);
    onLine1.insertID = onLine2.insertID = "ins";
    engine.upsert(std::vector<Cue>{onLine1, onLine2});
    engine.upsert(Mark{});
    engine.fireCue("3", "x");
    engine.standbyByID("c4");

    const std::string before = trail(), runBefore = run(), onDisk = readText(marks());
    EXPECT_FALSE(engine.removeInsert(""));
    EXPECT_EQ(cues(), "c1:1 c2:2 c3:3 c4:4");
    EXPECT_EQ(run(), runBefore);
    EXPECT_EQ(trail(), before) << "no undo step, no report, no save";
    EXPECT_EQ(readText(marks()), onDisk);

    EXPECT_TRUE(engine.removeInsert("nope")) << "an unknown id is still a step, like every remove";
    EXPECT_EQ(engine.undoDepth(), 5u);

    engine.removeInsert("ins");
    EXPECT_TRUE(engine.sidecar().inserts.empty());
    EXPECT_EQ(cues(), "c1:1 c2:2");
    EXPECT_EQ(run(), "c1 |");
    EXPECT_EQ(engine.sidecar().marks.size(), 1u);
}

TEST_F(Editing, MarksFlagsMemosByIdWithoutTouchingTheRun) {
    addCues(2);
    engine.go("x");
    engine.upsert(std::vector<Mark>{Mark{.id = "same"}, Mark{.id = "same", .text = "second"}});
    ASSERT_EQ(engine.sidecar().marks.size(), 1u);
    EXPECT_EQ(engine.sidecar().marks[0].text, "second");
    const Flag flag;
    const Memo memo;
    engine.upsert(flag);
    engine.upsert(memo);
    EXPECT_EQ(engine.sidecar().flags.size() + engine.sidecar().memos.size(), 2u);
    engine.removeMark("same");
    engine.removeFlag(flag.id);
    engine.removeMemo(memo.id);
    EXPECT_TRUE(engine.sidecar().marks.empty() && engine.sidecar().flags.empty() &&
                engine.sidecar().memos.empty());
    EXPECT_EQ(run(), "c2 | c1");
}

TEST_F(Editing, RenumberFollowsScriptOrderAndSkipsWhenNothingChanges) {
    Cue a = numberedCue(1), b = numberedCue(2);
    a.number = "5";
    b.number = "3";
    engine.upsert(std::vector<Cue>{b, a});  // list order differs from script order
    engine.renumberCues();
    EXPECT_EQ(cues(), "c1:1 c2:2");
    EXPECT_EQ(engine.sidecar().cues[0].id, "c2") << "the list keeps its order";

    const std::string before = trail();  // waits for the writer
    const auto written = fs::last_write_time(marks());
    engine.renumberCues();
    EXPECT_EQ(trail(), before);
    EXPECT_EQ(fs::last_write_time(marks()), written);

    b.id = a.id;  // a hand-edited file may repeat an id
    testing::EngineAccess::loadFromMemory(engine, CueSidecar{.cues = {b, a}});
    engine.renumberCues();
    EXPECT_EQ(cues(), "c1:1 c1:2");
}

TEST_F(Editing, PageTextsCropAndOffsetsSaveWithoutRotationOrCallback) {
    addCues(1);  // file exists, no backup yet
    engine.setPageText(2, "  teksti ");
    EXPECT_EQ(engine.sidecar().pageTexts.at("2"), "  teksti ");
    engine.setPageText(2, " \n\t\u3000");
    EXPECT_FALSE(engine.sidecar().pageTexts.contains("2"));
    engine.setCrop({0.1, 0.2, 0.3, 0.4});
    engine.setSpreadOffset(2);
    EXPECT_EQ(engine.sidecar().spreadOffset, 1);
    engine.setSpreadOffset(0);
    EXPECT_EQ(engine.sidecar().spreadOffset, 0);
    EXPECT_EQ(trail(), "undo 1, reports 1");
    EXPECT_EQ(decodeSidecar(readText(marks()))->crop, (std::vector<double>{0.1, 0.2, 0.3, 0.4}));

    engine.setPageLabelOffset(-3);
    EXPECT_EQ(trail(), "undo 1, reports 2, backup");
}

TEST_F(Editing, FiftyUndoStepsAreKeptAndANewEditEndsRedo) {
    for (int n = 1; n <= 51; ++n) engine.upsert(numberedCue(n));
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(engine.undo()) << i;
    EXPECT_FALSE(engine.undo());
    EXPECT_EQ(cues(), "c1:1");
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(engine.redo());
    EXPECT_EQ(engine.sidecar().cues.size(), 51u);
    EXPECT_FALSE(engine.redo());

    ASSERT_TRUE(engine.undo());
    engine.upsert(numberedCue(52));
    EXPECT_FALSE(engine.redo());
}

TEST_F(Editing, UndoRestoresTheWholeRecordAndSavesWithoutRotation) {
    addCues(1);
    engine.setCrop({0.1, 0.1, 0.5, 0.5});
    engine.upsert(numberedCue(2));
    engine.setCrop({0.2, 0.2, 0.5, 0.5});
    ASSERT_TRUE(engine.flushWrites());
    fs::remove(backup(1));
    ASSERT_TRUE(engine.undo());
    EXPECT_EQ(engine.sidecar().crop, (std::vector<double>{0.1, 0.1, 0.5, 0.5}));
    EXPECT_EQ(trail(), "undo 1, reports 3");
    EXPECT_EQ(decodeSidecar(readText(marks()))->cues.size(), 1u);
}

TEST_F(Editing, UndoAndRedoRefillAStandbyWhoseCueIsGoneButNoneStaysNone) {
    addCues(3);
    engine.remove("c1");
    ASSERT_TRUE(engine.undo());
    EXPECT_EQ(cues(), "c1:1 c2:2 c3:3");
    EXPECT_EQ(run(), "c2 |") << "the cue comes back, but not into standby";

    engine.standbyByID("c1");
    ASSERT_TRUE(engine.redo());  // takes c1 away again
    EXPECT_EQ(run(), "c2 |");

    ASSERT_TRUE(engine.undo());
    engine.fireCue("3", "x");
    ASSERT_TRUE(engine.redo());
    EXPECT_EQ(run(), "none | c3") << "a standby of none stays none";
}

TEST_F(Editing, HistoryBelongsToOneScript) {
    addCues(2);
    engine.loadSidecar(dir / "Other.pdf");
    EXPECT_FALSE(engine.undo());
    engine.upsert(numberedCue(1));
    engine.unload();
    EXPECT_FALSE(engine.undo());
    EXPECT_FALSE(engine.redo());
}

}  // namespace
}  // namespace tallowmark
