#include <gtest/gtest.h>

#include "cue_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

namespace fs = std::filesystem;
using testing::EngineEvents;
using testing::numberedCue;
using testing::readText;
using testing::sidecarWithCues;
using testing::TempDir;

class Editing : public ::testing::Test {
protected:
    void SetUp() override {
        engine.loadSidecar(dir / "Show.pdf");
        events.attach(engine);
    }
    void addCues(int count) {
        std::vector<Cue> cues;
        for (int n = 1; n <= count; ++n) cues.push_back(numberedCue(n));
        engine.upsert(cues);
    }
    std::vector<std::string> numbersInScriptOrder() const {
        std::vector<std::string> numbers;
        for (const Cue& c : engine.ordered()) numbers.push_back(c.number);
        return numbers;
    }
    fs::path marks() const { return dir / "Show.tallowmark"; }
    bool hasBackup() const { return fs::exists(CueEngine::backupPath(marks(), 1)); }

    TempDir dir;
    CueEngine engine;
    EngineEvents events;
};

TEST_F(Editing, UpsertReplacesInPlaceOrAppends) {
    addCues(3);
    Cue changed = numberedCue(2);
    changed.label = "muutettu";
    changed.y = 0.9;  // moves to the end in script order, stays second in the list
    engine.upsert(changed);
    EXPECT_EQ(engine.sidecar().cues[1].label, "muutettu");
    EXPECT_EQ(engine.ordered().back().id, "c2");
    EXPECT_EQ(engine.sidecar().cues.size(), 3u);
}

TEST_F(Editing, BatchUpsertIsOneStepAndLaterDuplicateWins) {
    Cue a = numberedCue(1), again = numberedCue(1);
    again.label = "toinen";
    engine.upsert(std::vector<Cue>{a, numberedCue(2), again});
    EXPECT_EQ(engine.undoDepth(), 1u);
    ASSERT_EQ(engine.sidecar().cues.size(), 2u);
    EXPECT_EQ(engine.sidecar().cues[0].label, "toinen");

    const int changes = events.stateChanges;
    engine.upsert(std::vector<Cue>{});
    engine.upsert(std::vector<Mark>{});
    engine.remove(std::vector<std::string>{});
    engine.removeMarks({});
    EXPECT_EQ(engine.undoDepth(), 1u) << "an empty batch does nothing at all";
    EXPECT_EQ(events.stateChanges, changes);
}

TEST_F(Editing, AddedCueTakesStandbyOnlyWhenThereIsNone) {
    addCues(2);
    EXPECT_EQ(engine.standbyID(), "c1") << "first added cue of the batch";
    engine.go("x");
    engine.go("x");
    ASSERT_FALSE(engine.standbyID());
    Cue early = numberedCue(0);  // before every other cue in script order
    engine.upsert(early);
    EXPECT_EQ(engine.standbyID(), "c0");
    engine.upsert(numberedCue(5));
    EXPECT_EQ(engine.standbyID(), "c0");
}

TEST_F(Editing, RemovingStandbyPicksTheFirstUnfiredCue) {
    addCues(5);
    engine.fireCue("2", "x");  // fired {2}, standby 3; cue 1 skipped
    engine.remove("c3");
    EXPECT_EQ(engine.standbyID(), "c1") << "not the cue after the removed one";

    engine.remove(std::vector<std::string>{"c2", "c1"});
    EXPECT_TRUE(engine.fired().empty());
    EXPECT_EQ(engine.standbyID(), "c4");
    EXPECT_TRUE(hasBackup());
}

TEST_F(Editing, RemovingAnyCueRefillsAMissingStandby) {
    addCues(3);
    engine.fireCue("1", "x");
    engine.fireCue("3", "x");  // standby none, cue 2 unfired
    engine.remove("nope");     // unknown id: still a step and a save
    EXPECT_EQ(engine.standbyID(), "c2");
    EXPECT_EQ(engine.undoDepth(), 2u);
}

TEST_F(Editing, RemoveInsertTakesItsCuesAndLeavesMarks) {
    addCues(2);
    Insert line;
    line.id = "ins";
    engine.upsert(line);
    Cue onLine1 = numberedCue(3), onLine2 = numberedCue(4);
    onLine1.insertID = onLine2.insertID = "ins";
    engine.upsert(std::vector<Cue>{onLine1, onLine2});
    Mark mark;
    engine.upsert(mark);
    engine.fireCue("3", "x");
    engine.standbyByID("c4");

    engine.removeInsert("ins");
    EXPECT_TRUE(engine.sidecar().inserts.empty());
    EXPECT_EQ(engine.sidecar().cues.size(), 2u);
    EXPECT_FALSE(engine.fired().contains("c3"));
    EXPECT_EQ(engine.standbyID(), "c1");
    EXPECT_EQ(engine.sidecar().marks.size(), 1u);
}

TEST_F(Editing, MarksFlagsMemosByIdWithoutTouchingTheRun) {
    addCues(2);
    engine.go("x");
    Mark m1, m2;
    m1.id = m2.id = "same";
    m2.text = "second";
    engine.upsert(std::vector<Mark>{m1, m2});
    ASSERT_EQ(engine.sidecar().marks.size(), 1u);
    EXPECT_EQ(engine.sidecar().marks[0].text, "second");
    Flag flag;
    Memo memo;
    engine.upsert(flag);
    engine.upsert(memo);
    engine.removeMark("same");
    engine.removeFlag(flag.id);
    engine.removeMemo(memo.id);
    EXPECT_TRUE(engine.sidecar().marks.empty() && engine.sidecar().flags.empty() &&
                engine.sidecar().memos.empty());
    EXPECT_EQ(engine.standbyID(), "c2");
    EXPECT_EQ(engine.fired(), CueEngine::IdSet{"c1"});
}

TEST_F(Editing, RenumberFollowsScriptOrderAndSkipsWhenNothingChanges) {
    Cue a = numberedCue(1), b = numberedCue(2);
    a.number = "5";
    b.number = "3";
    engine.upsert(std::vector<Cue>{b, a});  // list order differs from script order
    engine.renumberCues();
    EXPECT_EQ(numbersInScriptOrder(), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(engine.sidecar().cues[0].id, "c2") << "the list keeps its order";

    const auto depth = engine.undoDepth();
    const int changes = events.stateChanges;
    const auto written = fs::last_write_time(marks());
    engine.renumberCues();
    EXPECT_EQ(engine.undoDepth(), depth);
    EXPECT_EQ(events.stateChanges, changes);
    EXPECT_EQ(fs::last_write_time(marks()), written);
}

TEST_F(Editing, RenumberCopesWithRepeatedIds) {
    CueSidecar sidecar;
    Cue a = numberedCue(1), b = numberedCue(2);
    b.id = a.id;
    sidecar.cues = {b, a};
    engine.loadFromMemoryForTesting(sidecar);
    engine.renumberCues();
    EXPECT_EQ(numbersInScriptOrder(), (std::vector<std::string>{"1", "2"}));
}

TEST_F(Editing, PageTextsCropAndOffsetsSaveWithoutRotationOrCallback) {
    addCues(1);  // file exists, no backup yet
    const int changes = events.stateChanges;
    engine.setPageText(2, "  teksti ");
    EXPECT_EQ(engine.sidecar().pageTexts.at("2"), "  teksti ");
    engine.setPageText(2, " \n\t\u3000");
    EXPECT_FALSE(engine.sidecar().pageTexts.contains("2"));
    engine.setCrop({0.1, 0.2, 0.3, 0.4});
    engine.setSpreadOffset(2);
    EXPECT_EQ(engine.sidecar().spreadOffset, 1);
    engine.setSpreadOffset(0);
    EXPECT_EQ(engine.sidecar().spreadOffset, 0);
    EXPECT_EQ(events.stateChanges, changes);
    EXPECT_FALSE(hasBackup());
    EXPECT_EQ(engine.undoDepth(), 1u);
    EXPECT_NE(readText(marks()).find("0.4"), std::string::npos);

    engine.setPageLabelOffset(-3);
    EXPECT_EQ(events.stateChanges, changes + 1);
    EXPECT_TRUE(hasBackup());
    EXPECT_EQ(engine.undoDepth(), 1u);
}

TEST_F(Editing, FiftyUndoStepsAreKept) {
    for (int n = 1; n <= 51; ++n) engine.upsert(numberedCue(n));
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(engine.undo()) << i;
    EXPECT_FALSE(engine.undo());
    ASSERT_EQ(engine.sidecar().cues.size(), 1u);
    EXPECT_EQ(engine.sidecar().cues[0].id, "c1");
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(engine.redo());
    EXPECT_EQ(engine.sidecar().cues.size(), 51u);
    EXPECT_FALSE(engine.redo());
}

TEST_F(Editing, NewEditEndsRedo) {
    addCues(2);
    engine.upsert(numberedCue(3));
    ASSERT_TRUE(engine.undo());
    engine.upsert(numberedCue(4));
    EXPECT_FALSE(engine.redo());
}

TEST_F(Editing, UndoRestoresTheWholeRecordAndSavesWithoutRotation) {
    addCues(1);
    engine.setCrop({0.1, 0.1, 0.5, 0.5});
    engine.upsert(numberedCue(2));
    engine.setCrop({0.2, 0.2, 0.5, 0.5});
    fs::remove(CueEngine::backupPath(marks(), 1));
    ASSERT_TRUE(engine.undo());
    EXPECT_EQ(engine.sidecar().crop, (std::vector<double>{0.1, 0.1, 0.5, 0.5}));
    EXPECT_FALSE(hasBackup());
    EXPECT_EQ(decodeSidecar(readText(marks()))->cues.size(), 1u);
}

TEST_F(Editing, UndoOfADeleteBringsTheCueBackButNotIntoStandby) {
    addCues(3);
    engine.remove("c1");
    EXPECT_EQ(engine.standbyID(), "c2");
    ASSERT_TRUE(engine.undo());
    EXPECT_EQ(engine.sidecar().cues.size(), 3u);
    EXPECT_EQ(engine.standbyID(), "c2");
}

TEST_F(Editing, UndoThatDropsTheStandbyCueRefillsButNoneStaysNone) {
    addCues(2);
    engine.upsert(numberedCue(3));
    engine.standbyByID("c3");
    ASSERT_TRUE(engine.undo());
    EXPECT_EQ(engine.standbyID(), "c1");

    engine.go("x");
    engine.go("x");
    ASSERT_FALSE(engine.standbyID());
    ASSERT_TRUE(engine.redo());
    EXPECT_FALSE(engine.standbyID()) << "a standby of none stays none";
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
