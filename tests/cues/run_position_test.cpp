#include <gtest/gtest.h>

#include "core/json_helpers.hpp"
#include "cue_fixtures.hpp"

namespace tallowmark {
namespace {

namespace fs = std::filesystem;
using testing::readText;
using testing::writeText;

class RunPosition : public testing::ShowFolder {
protected:
    void SetUp() override {
        writeText(marks(), *encodeSidecar(testing::sidecarWithCues(10)));
        engine.loadSidecar(pdf());
    }
    void reopen() {
        engine.unload();
        engine.loadSidecar(pdf());
    }
    // The run file as "standby | fired ids", or "no file", once the writer is done.
    std::string onDisk() {
        EXPECT_TRUE(engine.flushWrites());
        if (!fs::exists(runFile())) return "no file";
        const RunState state = decodeRunState(readText(runFile())).value();
        std::string text = state.standbyID + " |";
        for (const std::string& id : state.fired) text += " " + id;
        return text;
    }
    // The resume offer as "fired/total standby", or "none".
    std::string offer() const {
        const auto o = engine.resumeOffer();
        return o ? std::to_string(o->firedCount) + "/" + std::to_string(o->total) + " " + o->standby.id : "none";
    }
};

TEST_F(RunPosition, FirstGoCreatesTheCompactFileAndEveryRunChangeRewritesIt) {
    EXPECT_EQ(offer(), "none");
    EXPECT_EQ(onDisk(), "no file");
    go(1);
    EXPECT_EQ(onDisk(), "c2 | c1");
    EXPECT_EQ(readText(runFile()).find('\n'), std::string::npos) << "compact";
    EXPECT_GT(decodeRunState(readText(runFile()))->savedAt, 1.7e9);

    go(3);
    engine.back("x");
    EXPECT_EQ(onDisk(), "c4 | c1 c2 c3");
    engine.standbyByNumber("8", "x");
    EXPECT_EQ(onDisk(), "c8 | c1 c2 c3");
    engine.standbyByID("c5");
    EXPECT_EQ(onDisk(), "c5 | c1 c2 c3");
    EXPECT_EQ(engine.savedRun()->standbyID, "c5") << "the offer follows every write";
}

TEST_F(RunPosition, ReopenOffersTheSavedRunWithoutApplyingItAndRestoreAppliesIt) {
    go(3);
    engine.unload();
    EXPECT_EQ(offer(), "none");
    EXPECT_EQ(onDisk(), "c4 | c1 c2 c3") << "closing keeps the file";
    engine.loadSidecar(pdf());
    EXPECT_EQ(offer(), "3/10 c4");
    EXPECT_EQ(run(), "c1 |");

    ASSERT_TRUE(engine.restoreRun());
    EXPECT_EQ(run(), "c4 | c1 c2 c3");
    EXPECT_FALSE(engine.lastFiredID());
    EXPECT_EQ(engine.go("x")->id, "c4");
}

TEST_F(RunPosition, GoWithoutAnsweringReplacesTheSavedRun) {
    go(3);
    reopen();
    EXPECT_EQ(engine.go("x")->id, "c1");
    EXPECT_EQ(offer(), "1/10 c2");
    EXPECT_EQ(onDisk(), "c2 | c1");
}

TEST_F(RunPosition, ResetDiscardAndUnfiringTheOnlyCueRemoveTheFile) {
    go(2);
    engine.reset("x");
    EXPECT_EQ(onDisk(), "no file");
    reopen();
    EXPECT_EQ(offer(), "none");

    go(2);
    reopen();
    EXPECT_EQ(offer(), "2/10 c3");
    engine.discardSavedRun();
    EXPECT_EQ(offer(), "none");
    EXPECT_EQ(onDisk(), "no file");
    EXPECT_FALSE(engine.restoreRun());

    go(1);
    EXPECT_EQ(onDisk(), "c2 | c1");
    engine.back("x");
    EXPECT_EQ(run(), "c1 |");
    EXPECT_EQ(onDisk(), "no file");
    EXPECT_FALSE(engine.savedRun());
}

TEST_F(RunPosition, DeletedCuesAreDroppedAndARunOfEveryCueGivesNoOffer) {
    go(4);
    engine.remove("c2");
    EXPECT_EQ(onDisk(), "c5 | c1 c2 c3 c4") << "editing leaves the run file alone";
    reopen();
    EXPECT_EQ(offer(), "3/9 c5");
    engine.remove(std::vector<std::string>{"c1", "c3", "c4"});
    EXPECT_EQ(offer(), "none");
    EXPECT_FALSE(engine.restoreRun());

    go(6);  // every cue that is left
    reopen();
    ASSERT_TRUE(engine.savedRun());
    EXPECT_EQ(offer(), "none");
    EXPECT_TRUE(engine.restoreRun());
    EXPECT_EQ(run(), "none | c10 c5 c6 c7 c8 c9");
}

TEST_F(RunPosition, HandWrittenAndDamagedRunFiles) {
    writeText(runFile(), R"({"standbyID":"c6","fired":["c1","c2","c3","c4","c5"]})");
    reopen();
    EXPECT_EQ(offer(), "5/10 c6");
    // Unknown standby falls to the first unfired cue; duplicates count once.
    writeText(runFile(), R"({"standbyID":"gone","fired":["c1","c1","c2","zz"]})");
    reopen();
    EXPECT_EQ(offer(), "2/10 c3");

    for (const char* text : {"roskaa", "[]", R"({"fired":[1]})", R"({"fired":[],"standbyID":"c1"})"}) {
        writeText(runFile(), text);
        reopen();
        EXPECT_EQ(offer(), "none") << text;
        EXPECT_EQ(run(), "c1 |");
    }
}

}  // namespace
}  // namespace tallowmark
