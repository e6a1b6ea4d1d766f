// How the engine wires the record, the run and the files together; each part's own rules are tested beside it.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "cue_fixtures.hpp"

namespace tallowmark {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::EngineAccess;
using testing::numberedCue;
using testing::withID;
using testing::readText;
using testing::writeText;

using Engine = testing::ShowFolder;

// Observers of a GO see the standby already moved. Run changes (without their own listener,
// state changes) and edits are reported apart but numbered in one sequence.
TEST_F(Engine, CallbacksSeeTheRunMovedAndReportsAreNumberedInOneSequence) {
    EngineAccess::loadFromMemory(engine, testing::sidecarWithCues(5));
    const std::uint64_t start = engine.changeCount();
    const auto count = [&](std::uint64_t n) { return std::to_string(n - start); };
    std::vector<std::string> seen;
    engine.onLog = [&](const std::string& text, const std::string& source) { seen.push_back(text + " by " + source); };
    engine.onFire = [&](const Cue& cue, const std::string& source) {
        seen.push_back("fire " + cue.id + " by " + source + ": " + run());
    };
    engine.onStateChange = [&] { seen.push_back("state " + count(engine.changeCount()) + ": " + run()); };
    EXPECT_EQ(engine.go("desk").value().id, "c1");
    engine.onRunChange = [&](const CueEngine::RunChange& c) {
        seen.push_back("run " + count(c.from) + "->" + count(c.seq) + " " + *c.touched.begin() + ": " + run());
    };
    engine.go("x");
    engine.remove("c5");
    engine.back("x");
    EXPECT_EQ(seen, (std::vector<std::string>{"GO 1 L1 by desk", "fire c1 by desk: c2 | c1", "state 1: c2 | c1",
                                              "GO 2 L2 by x", "fire c2 by x: c3 | c1 c2", "run 1->2 c2: c3 | c1 c2",
                                              "state 3: c3 | c1 c2", "BACK -> 2 by x", "run 3->4 c2: c2 | c1"}));
}

// An edit of an id that is not there is still an edit.
TEST_F(Engine, EveryOperationTakesItsStepReportsAndSavesByItsKind) {
    using Act = std::function<void(CueEngine&)>;
    const Act none;
    enum Save { nothing, plain, rotating };
    // What each does: undo steps taken (or given back), reports, and the save.
    const std::tuple<const char*, Act, Act, long, int, Save> cases[] = {
        {"cues", none, [](CueEngine& e) { e.upsert({numberedCue(4), numberedCue(5)}), e.remove("nope"); }, 2, 2, rotating},
        {"renumber", [](CueEngine& e) { Cue c = withID<Cue>("c2"); c.number = "7", c.y = 0.1; e.upsert(c); },
         [](CueEngine& e) { e.renumberCues(); }, 1, 1, rotating},
        {"marks", none, [](CueEngine& e) { e.upsert(Mark{}), e.upsert(Flag{}), e.upsert(Memo{}), e.upsert(Insert{}); },
         4, 4, rotating},
        {"removals", none, [](CueEngine& e) { e.removeMark("m"), e.removeFlag("f"), e.removeMemo("n");
                                              EXPECT_TRUE(e.removeInsert("i")); }, 4, 4, rotating},
        {"import", none, [this](CueEngine& e) { EXPECT_TRUE(e.importSidecar(dir / "Other.tallowmark")); }, 1, 1, rotating},
        {"page label offset", none, [](CueEngine& e) { e.setPageLabelOffset(-3); }, 0, 1, rotating},
        {"page text", none, [](CueEngine& e) { e.setPageText(1, "x"); }, 0, 0, plain},
        {"crop", none, [](CueEngine& e) { e.setCrop({0.1, 0.2, 0.3, 0.4}); }, 0, 0, plain},
        {"spread offset", none, [](CueEngine& e) { e.setSpreadOffset(1); }, 0, 0, plain},
        {"undo", [](CueEngine& e) { e.upsert(numberedCue(4)); }, [](CueEngine& e) { EXPECT_TRUE(e.undo()); }, -1, 1, plain},
        {"redo", [](CueEngine& e) { e.upsert(numberedCue(4)), e.undo(); }, [](CueEngine& e) { EXPECT_TRUE(e.redo()); },
         1, 1, plain},
        {"empty batches, an empty insert id, numbers in order, no history", none, [](CueEngine& e) {
             e.upsert(std::vector<Cue>{}), e.upsert(std::vector<Mark>{}), e.remove(std::vector<std::string>{});
             e.removeMarks({}), e.renumberCues();
             EXPECT_FALSE(e.removeInsert("") || e.undo() || e.redo());
         }, 0, 0, nothing},
    };
    writeText(dir / "Other.tallowmark", *encodeSidecar(testing::sidecarWithCues(2)));
    int reports = 0;
    engine.onStateChange = [&] { ++reports; };
    for (const auto& [what, before, act, steps, reported, save] : cases) {
        writeText(marks(), *encodeSidecar(testing::sidecarWithCues(3)));
        engine.loadSidecar(pdf());
        if (before) before(engine);
        ASSERT_TRUE(engine.flushWrites());
        fs::remove(backup(1));
        const std::string bytes = readText(marks());
        const auto written = fs::last_write_time(marks());
        const auto depth = static_cast<long>(engine.undoDepth());
        reports = 0;
        act(engine);
        ASSERT_TRUE(engine.flushWrites());
        const bool changed = readText(marks()) != bytes || fs::last_write_time(marks()) != written;
        EXPECT_EQ(std::tuple(static_cast<long>(engine.undoDepth()) - depth, reports,
                             fs::exists(backup(1)) ? rotating : changed ? plain : nothing),
                  std::tuple(steps, reported, save)) << what;
    }
}

TEST_F(Engine, TheRunFollowsTheEditsOfTheMarks) {
    Cue on5 = numberedCue(5), on6 = numberedCue(6);
    on5.insertID = on6.insertID = "ins";
    const std::tuple<int, std::function<void(CueEngine&)>, const char*> cases[] = {
        // The first cue a batch appends takes an empty standby, wherever it stands; a second does not.
        {0, [](CueEngine& e) { e.upsert({numberedCue(1), numberedCue(2)}); }, "c1 |"},
        {2, [](CueEngine& e) { e.go("x"); e.go("x"); e.upsert(numberedCue(0)); e.upsert(numberedCue(5)); },
         "c0 | c1 c2"},
        // A removed standby goes to the first unfired cue, not the cue after it: skipped cues are still to come.
        {5, [](CueEngine& e) { e.fireCue("2", "x"); e.remove("c3"); }, "c1 | c2"},
        {5, [](CueEngine& e) { e.fireCue("2", "x"); e.fireCue("5", "x"); e.remove("nope"); }, "c1 | c2 c5"},
        {5, [](CueEngine& e) { e.fireCue("2", "x"); e.remove(std::vector<std::string>{"c1", "c2"}); }, "c3 |"},
        {4, [&](CueEngine& e) { e.upsert(withID<Insert>("ins")), e.upsert({on5, on6}), e.fireCue("5", "x");
                                e.removeInsert(""), e.removeInsert("ins"); }, "c1 |"},
        // Undo brings a removed standby cue back, but not into standby; one that goes again is replaced.
        {3, [](CueEngine& e) { e.remove("c1"); e.undo(); }, "c2 |"},
        {3, [](CueEngine& e) { e.remove("c1"); e.undo(); e.standbyByID("c1"); e.redo(); }, "c2 |"},
        {3, [](CueEngine& e) { e.remove("c1"); e.undo(); e.fireCue("3", "x"); e.redo(); }, "none | c3"},
        {2, [](CueEngine& e) { e.go("x"), e.upsert(withID<Mark>("m")), e.upsert(withID<Flag>("f")), e.renumberCues(); },
         "c2 | c1"},
    };
    for (const auto& [cues, act, after] : cases) {
        EngineAccess::loadFromMemory(engine, testing::sidecarWithCues(cues));
        act(engine);
        EXPECT_EQ(run(), after);
    }
}

TEST_F(Engine, AnImportLeavesTheRunAndRefillsAStandbyThatIsGone) {
    writeText(dir / "Other.tallowmark", *encodeSidecar(testing::sidecarWithCues(3)));
    engine.loadSidecar(pdf());
    engine.upsert({numberedCue(2), numberedCue(9)});
    engine.go("x");  // fires c2; standby c9, which the import takes away
    ASSERT_TRUE(engine.importSidecar(dir / "Other.tallowmark"));
    EXPECT_EQ(run(), "c1 | c2");
    writeText(dir / "bad.tallowmark", "{\"cues\":5}");
    EXPECT_FALSE(engine.importSidecar(dir / "bad.tallowmark"));
    EXPECT_EQ(engine.undoDepth(), 2u) << "a failed import takes no step";
    engine.standbyByID("c2");
    ASSERT_TRUE(engine.importSidecar(dir / "Other.tallowmark"));
    EXPECT_EQ(engine.standbyID(), "c2") << "a standby cue that is still there stays";
}

TEST_F(Engine, EditsAndClosingLeaveTheRunFileWhichTheNextOpeningReads) {
    writeText(marks(), *encodeSidecar(testing::sidecarWithCues(10)));
    engine.loadSidecar(pdf());
    go(4);
    engine.remove("c2");
    ASSERT_TRUE(engine.flushWrites());
    EXPECT_EQ(decodeRunState(readText(runFile()))->fired, (std::vector<std::string>{"c1", "c2", "c3", "c4"}));
    engine.unload();
    EXPECT_FALSE(engine.resumeOffer());
    EXPECT_TRUE(fs::exists(runFile()));
    engine.loadSidecar(pdf());
    EXPECT_EQ(run(), "c1 |");
    const auto offer = engine.resumeOffer().value();
    EXPECT_EQ(std::tuple(offer.firedCount, offer.total, offer.standby.id), std::tuple(3, 9, "c5"));
}

TEST_F(Engine, ClosingOpeningAndDestructionWaitForPendingWrites) {
    writeText(marks(), *encodeSidecar(testing::sidecarWithCues(10)));
    const std::pair<const char*, std::function<void(std::unique_ptr<CueEngine>&)>> cases[] = {
        {"unload", [](auto& e) { e->unload(); }},
        {"opening another script", [&](auto& e) { e->loadSidecar(dir / "Other.pdf"); }},
        {"reopening the same script", [&](auto& e) { e->loadSidecar(pdf()); }},
        {"destruction", [](auto& e) { e.reset(); }},
    };
    for (const auto& [when, close] : cases) {
        fs::remove(runFile());
        auto other = std::make_unique<CueEngine>();
        other->loadSidecar(pdf());
        // A slow disk: the writer is busy when the GOs come.
        EngineAccess::writer(*other).submit("slow", [] { std::this_thread::sleep_for(300ms); }, FileWriter::Merge::keeps);
        for (int i = 0; i < 3; ++i) other->go("x");
        close(other);
        const auto state = decodeRunState(fs::exists(runFile()) ? readText(runFile()) : "");
        EXPECT_EQ(state ? state->standbyID + " | " + std::to_string(state->fired.size()) + " fired" : "no file",
                  "c4 | 3 fired") << when;
        EXPECT_TRUE(!other || other->sidecarURL() != marks() || other->savedRun()->fired.size() == 3u) << when;
    }
}

}  // namespace
}  // namespace tallowmark
