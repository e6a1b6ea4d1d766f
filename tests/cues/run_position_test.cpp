#include <gtest/gtest.h>

#include <functional>

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

// After a crash one stray GO from a desk must not fire cue 1 over the saved
// position: while the offer stands, every run command but RESET picks the
// saved run up first. Discard or RESET start a new run.
TEST_F(RunPosition, RunCommandsWhileTheOfferIsOpenContinueTheSavedRun) {
    struct Case {
        const char* what;
        std::function<void(CueEngine&)> act;
        const char* run;
        const char* disk;
    };
    const std::vector<Case> cases = {
        {"go", [](CueEngine& e) { e.go("osc 10.0.0.5"); }, "c5 | c1 c2 c3 c4", "c5 | c1 c2 c3 c4"},
        {"fire 7", [](CueEngine& e) { e.fireCue("7", "msc"); }, "c8 | c1 c2 c3 c7", "c8 | c1 c2 c3 c7"},
        {"back", [](CueEngine& e) { e.back("ui"); }, "c3 | c1 c2", "c3 | c1 c2"},
        {"standby 9", [](CueEngine& e) { e.standbyByNumber("9", "osc"); }, "c9 | c1 c2 c3", "c9 | c1 c2 c3"},
        {"standby c6", [](CueEngine& e) { e.standbyByID("c6"); }, "c6 | c1 c2 c3", "c6 | c1 c2 c3"},
        {"reset", [](CueEngine& e) { e.reset("ui"); }, "c1 |", "no file"},
        {"discard, go", [](CueEngine& e) { e.discardSavedRun(); e.go("ui"); }, "c2 | c1", "c2 | c1"},
    };
    for (const Case& c : cases) {
        engine.reset("x");
        go(3);
        reopen();
        ASSERT_TRUE(engine.resumeOfferOpen()) << c.what;
        std::vector<std::string> log;
        engine.onLog = [&](const std::string& text, const std::string&) { log.push_back(text); };
        c.act(engine);
        engine.onLog = nullptr;
        EXPECT_EQ(run(), c.run) << c.what;
        EXPECT_EQ(onDisk(), c.disk) << c.what;
        EXPECT_FALSE(engine.resumeOfferOpen()) << c.what;
        const bool continued = std::string(c.what) != "reset" && std::string(c.what) != "discard, go";
        EXPECT_EQ(!log.empty() && log.front() == "Tallennettu ajo jatkuu - 3/10 laukaistu", continued) << c.what;
    }
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
    // Every page showing the offer hears that it is gone; a second discard is no change.
    int reports = 0;
    engine.onRunChange = [&](const CueEngine::RunChange&) { ++reports; };
    engine.discardSavedRun();
    engine.discardSavedRun();
    EXPECT_EQ(reports, 1);
    engine.onRunChange = nullptr;
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
