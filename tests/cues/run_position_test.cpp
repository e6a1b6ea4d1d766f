#include <gtest/gtest.h>

#include "core/json_helpers.hpp"
#include "cue_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

namespace fs = std::filesystem;
using testing::readText;
using testing::sidecarWithCues;
using testing::TempDir;
using testing::writeText;

class RunPosition : public ::testing::Test {
protected:
    void SetUp() override { writeText(dir / "Show.tallowmark", *encodeSidecar(sidecarWithCues(10))); }

    void reopen() {
        engine.unload();
        engine.loadSidecar(pdf);
    }
    fs::path runFile() const { return dir / "Show.tallowmark-run"; }
    std::optional<RunState> runOnDisk() const {
        if (!fs::exists(runFile())) return std::nullopt;
        return decodeRunState(readText(runFile()));
    }
    void go(int times) {
        for (int i = 0; i < times; ++i) engine.go("x");
    }

    TempDir dir;
    fs::path pdf = dir / "Show.pdf";
    CueEngine engine;
};

TEST_F(RunPosition, FirstGoCreatesTheCompactRunFile) {
    engine.loadSidecar(pdf);
    EXPECT_FALSE(engine.resumeOffer());
    EXPECT_FALSE(fs::exists(runFile()));
    go(1);
    const std::string text = readText(runFile());
    EXPECT_EQ(text.find('\n'), std::string::npos) << "compact";
    auto state = decodeRunState(text);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->fired, std::vector<std::string>{"c1"});
    EXPECT_EQ(state->standbyID, "c2");
    EXPECT_GT(state->savedAt, 1.7e9);
}

TEST_F(RunPosition, ReopenOffersTheSavedRunWithoutApplyingIt) {
    engine.loadSidecar(pdf);
    go(3);
    reopen();
    auto offer = engine.resumeOffer();
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->firedCount, 3);
    EXPECT_EQ(offer->total, 10);
    EXPECT_EQ(offer->standby.id, "c4");
    EXPECT_TRUE(engine.fired().empty());
    EXPECT_EQ(engine.standbyID(), "c1");

    ASSERT_TRUE(engine.restoreRun());
    EXPECT_EQ(engine.fired(), (CueEngine::IdSet{"c1", "c2", "c3"}));
    EXPECT_EQ(engine.standbyID(), "c4");
    EXPECT_FALSE(engine.lastFiredID());
    EXPECT_EQ(engine.go("x")->id, "c4");
}

TEST_F(RunPosition, GoWithoutAnsweringReplacesTheSavedRun) {
    engine.loadSidecar(pdf);
    go(3);
    reopen();
    EXPECT_EQ(engine.go("x")->id, "c1");
    auto offer = engine.resumeOffer();
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->firedCount, 1);
    EXPECT_EQ(runOnDisk()->fired, std::vector<std::string>{"c1"});
}

TEST_F(RunPosition, ResetAndDiscardRemoveTheOffer) {
    engine.loadSidecar(pdf);
    go(2);
    engine.reset("x");
    EXPECT_FALSE(fs::exists(runFile()));
    reopen();
    EXPECT_FALSE(engine.resumeOffer());

    go(2);
    reopen();
    ASSERT_TRUE(engine.resumeOffer());
    engine.discardSavedRun();
    EXPECT_FALSE(engine.resumeOffer());
    EXPECT_FALSE(fs::exists(runFile()));
    EXPECT_FALSE(engine.restoreRun());
}

TEST_F(RunPosition, EveryCueFiredGivesNoOfferButRestoreWorks) {
    engine.loadSidecar(pdf);
    go(10);
    reopen();
    ASSERT_TRUE(engine.savedRun());
    EXPECT_FALSE(engine.resumeOffer());
    EXPECT_TRUE(engine.restoreRun());
    EXPECT_EQ(engine.fired().size(), 10u);
    EXPECT_FALSE(engine.standbyID());
}

TEST_F(RunPosition, DeletedCuesAreDroppedWhenResolving) {
    engine.loadSidecar(pdf);
    go(4);
    engine.remove("c2");
    EXPECT_EQ(runOnDisk()->fired.size(), 4u) << "editing leaves the run file alone";
    reopen();
    auto offer = engine.resumeOffer();
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->firedCount, 3);
    EXPECT_EQ(offer->total, 9);

    engine.remove(std::vector<std::string>{"c1", "c3", "c4"});
    EXPECT_FALSE(engine.resumeOffer());
    EXPECT_FALSE(engine.restoreRun());
}

TEST_F(RunPosition, UnloadForgetsTheOfferButKeepsTheFile) {
    engine.loadSidecar(pdf);
    go(2);
    engine.unload();
    EXPECT_FALSE(engine.resumeOffer());
    EXPECT_TRUE(fs::exists(runFile()));
}

TEST_F(RunPosition, HandWrittenAndDamagedRunFiles) {
    writeText(runFile(), R"({"standbyID":"c6","fired":["c1","c2","c3","c4","c5"]})");
    engine.loadSidecar(pdf);
    auto offer = engine.resumeOffer();
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->firedCount, 5);
    EXPECT_EQ(offer->standby.id, "c6");

    // Unknown standby falls to the first unfired cue; duplicates count once.
    writeText(runFile(), R"({"standbyID":"gone","fired":["c1","c1","c2","zz"]})");
    reopen();
    ASSERT_TRUE(engine.resumeOffer());
    EXPECT_EQ(engine.resumeOffer()->firedCount, 2);
    EXPECT_EQ(engine.resumeOffer()->standby.id, "c3");

    for (const char* text : {"roskaa", "", "[]", R"({"fired":"c1"})", R"({"fired":[1]})",
                             R"({"fired":[],"standbyID":"c1"})", R"({"savedAt":"now","fired":["c1"]})"}) {
        writeText(runFile(), text);
        reopen();
        EXPECT_FALSE(engine.resumeOffer()) << text;
        EXPECT_EQ(engine.standbyID(), "c1");
    }
}

TEST_F(RunPosition, EveryRunChangeRewritesTheFile) {
    engine.loadSidecar(pdf);
    go(4);
    engine.back("x");
    auto state = runOnDisk();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->fired.size(), 3u);
    EXPECT_EQ(state->standbyID, "c4");

    engine.standbyByNumber("8", "x");
    EXPECT_EQ(runOnDisk()->standbyID, "c8");
    EXPECT_EQ(runOnDisk()->fired.size(), 3u);
    engine.standbyByID("c5");
    EXPECT_EQ(runOnDisk()->standbyID, "c5");
    EXPECT_EQ(engine.savedRun()->standbyID, "c5") << "the offer follows every write";
}

TEST_F(RunPosition, BackThatUnfiresTheOnlyCueDeletesTheFile) {
    engine.loadSidecar(pdf);
    engine.reset("x");
    go(1);
    ASSERT_TRUE(fs::exists(runFile()));
    engine.back("x");
    EXPECT_EQ(engine.standbyID(), "c1");
    EXPECT_FALSE(fs::exists(runFile()));
    EXPECT_FALSE(engine.savedRun());
}

}  // namespace
}  // namespace tallowmark
