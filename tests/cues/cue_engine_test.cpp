// The engine as its callers see it: how the record, the run and the files
// are wired together. Each part's own rules are tested beside it.
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

TEST_F(Engine, GoCallsBackInOrderWithTheSourceAndStandbyAlreadyMoved) {
    EngineAccess::loadFromMemory(engine, testing::sidecarWithCues(10));
    std::vector<std::string> seen;
    engine.onLog = [&](const std::string& text, const std::string& source) { seen.push_back(text + " by " + source); };
    engine.onFire = [&](const Cue& cue, const std::string& source) {
        seen.push_back("fire " + cue.id + " by " + source + ": " + run());
    };
    engine.onStateChange = [&] { seen.push_back("state: " + run()); };
    EXPECT_EQ(engine.go("desk").value().id, "c1");
    EXPECT_EQ(seen, (std::vector<std::string>{"GO 1 L1 by desk", "fire c1 by desk: c2 | c1", "state: c2 | c1"}));
    EXPECT_EQ(engine.lastFiredID(), "c1");
}

// Run changes and edits are reported apart (a run change as the cues it touched, so the
// page can be sent that much), but numbered in one sequence, so that an old report can be
// told from a new one. Without a run listener run changes come as state changes.
TEST_F(Engine, ReportsOfRunChangesAndEditsAreNumberedInOneSequence) {
    EngineAccess::loadFromMemory(engine, testing::sidecarWithCues(5));
    const std::uint64_t start = engine.changeCount();
    std::string seen;
    engine.onStateChange = [&] { seen += " state " + std::to_string(engine.changeCount() - start); };
    engine.onRunChange = [&](const CueEngine::RunChange& c) {
        seen += " run " + std::to_string(c.from - start) + "->" + std::to_string(c.seq - start) + " " +
                *c.touched.begin() + " | " + run();
    };
    go(2);
    engine.remove("c5");
    engine.back("x");
    engine.onRunChange = nullptr;
    engine.go("x");
    EXPECT_EQ(seen, " run 0->1 c1 | c2 | c1 run 1->2 c2 | c3 | c1 c2 state 3 run 3->4 c2 | c2 | c1 state 5");
}

// What each operation leaves behind: undo steps taken (or given back),
// reports, and the save it queued: with backup rotation, plain, or none.
TEST_F(Engine, EveryOperationTakesItsStepReportsAndSavesByItsKind) {
    using Act = std::function<void(CueEngine&)>;
    const Act none;
    const std::string edit = "step +1, reported 1, rotating";
    const std::tuple<const char*, Act, Act, std::string> cases[] = {
        {"cue", none, [](CueEngine& e) { e.upsert(numberedCue(4)); }, edit},
        {"batch", none, [](CueEngine& e) { e.upsert({numberedCue(4), numberedCue(5)}); }, edit},
        {"unknown cue", none, [](CueEngine& e) { e.remove("nope"); }, edit},
        {"cues", none, [](CueEngine& e) { e.remove(std::vector<std::string>{"c1", "c2"}); }, edit},
        {"renumber", [](CueEngine& e) { Cue c = withID<Cue>("c2"); c.number = "7", c.y = 0.1; e.upsert(c); },
         [](CueEngine& e) { e.renumberCues(); }, edit},
        {"mark", none, [](CueEngine& e) { e.upsert(Mark{}); }, edit},
        {"marks", none, [](CueEngine& e) { e.upsert({Mark{}, Mark{}}); }, edit},
        {"unknown mark", none, [](CueEngine& e) { e.removeMark("nope"); }, edit},
        {"unknown marks", none, [](CueEngine& e) { e.removeMarks({"nope", "nada"}); }, edit},
        {"flag", none, [](CueEngine& e) { e.upsert(Flag{}); }, edit},
        {"unknown flag", none, [](CueEngine& e) { e.removeFlag("nope"); }, edit},
        {"memo", none, [](CueEngine& e) { e.upsert(Memo{}); }, edit},
        {"unknown memo", none, [](CueEngine& e) { e.removeMemo("nope"); }, edit},
        {"insert", none, [](CueEngine& e) { e.upsert(Insert{}); }, edit},
        {"unknown insert", none, [](CueEngine& e) { EXPECT_TRUE(e.removeInsert("nope")); }, edit},
        {"import", none, [this](CueEngine& e) { EXPECT_TRUE(e.importSidecar(dir / "Other.tallowmark")); }, edit},
        {"page label offset", none, [](CueEngine& e) { e.setPageLabelOffset(-3); }, "reported 1, rotating"},
        {"page text", none, [](CueEngine& e) { e.setPageText(1, "x"); }, "plain"},
        {"crop", none, [](CueEngine& e) { e.setCrop({0.1, 0.2, 0.3, 0.4}); }, "plain"},
        {"spread offset", none, [](CueEngine& e) { e.setSpreadOffset(1); }, "plain"},
        {"undo", [](CueEngine& e) { e.upsert(numberedCue(4)); }, [](CueEngine& e) { EXPECT_TRUE(e.undo()); },
         "step -1, reported 1, plain"},
        {"redo", [](CueEngine& e) { e.upsert(numberedCue(4)); e.undo(); }, [](CueEngine& e) { EXPECT_TRUE(e.redo()); },
         "step +1, reported 1, plain"},
        {"empty batches, an empty insert id, numbers in order, no history", none, [](CueEngine& e) {
             e.upsert(std::vector<Cue>{});
             e.upsert(std::vector<Mark>{});
             e.remove(std::vector<std::string>{});
             e.removeMarks({});
             e.renumberCues();
             EXPECT_FALSE(e.removeInsert("") || e.undo() || e.redo());
         }, "nothing"},
    };
    writeText(dir / "Other.tallowmark", *encodeSidecar(testing::sidecarWithCues(2)));
    int reports = 0;
    engine.onStateChange = [&] { ++reports; };
    for (const auto& [what, before, act, expected] : cases) {
        writeText(marks(), *encodeSidecar(testing::sidecarWithCues(3)));
        engine.loadSidecar(pdf());
        if (before) before(engine);
        ASSERT_TRUE(engine.flushWrites());
        fs::remove(backup(1));
        const std::string bytes = readText(marks());
        const auto written = fs::last_write_time(marks());
        const auto steps = static_cast<long>(engine.undoDepth());
        reports = 0;
        act(engine);
        ASSERT_TRUE(engine.flushWrites());
        const long step = static_cast<long>(engine.undoDepth()) - steps;
        std::string trail = step ? std::string("step ") + (step > 0 ? "+" : "") + std::to_string(step) + ", " : "";
        if (reports) trail += "reported " + std::to_string(reports) + ", ";
        if (fs::exists(backup(1))) trail += "rotating";
        else if (readText(marks()) != bytes || fs::last_write_time(marks()) != written) trail += "plain";
        EXPECT_EQ(trail.empty() ? "nothing" : trail, expected) << what;
    }
}

// The run follows the edits of the marks; the run file is left to the run commands.
TEST_F(Engine, TheRunFollowsTheEditsOfTheMarks) {
    const auto onInsert = [](int n) {
        Cue cue = numberedCue(n);
        cue.insertID = "ins";
        return cue;
    };
    const std::tuple<int, std::function<void(CueEngine&)>, const char*> cases[] = {
        // The first cue a batch appends takes an empty standby, wherever it stands; a second does not.
        {0, [](CueEngine& e) { e.upsert({numberedCue(1), numberedCue(2)}); }, "c1 |"},
        {2, [](CueEngine& e) { e.go("x"); e.go("x"); e.upsert(numberedCue(0)); e.upsert(numberedCue(5)); },
         "c0 | c1 c2"},
        // A removed standby goes to the first unfired cue, not the cue after it: skipped cues are still to come.
        {5, [](CueEngine& e) { e.fireCue("2", "x"); e.remove("c3"); }, "c1 | c2"},
        {5, [](CueEngine& e) { e.fireCue("2", "x"); e.fireCue("5", "x"); e.remove("nope"); }, "c1 | c2 c5"},
        {5, [](CueEngine& e) { e.fireCue("2", "x"); e.remove(std::vector<std::string>{"c1", "c2"}); }, "c3 |"},
        {4, [&](CueEngine& e) {
             e.upsert(withID<Insert>("ins"));
             e.upsert({onInsert(5), onInsert(6)});
             e.fireCue("5", "x");
             e.removeInsert("");
             e.removeInsert("ins");
         }, "c1 |"},
        // Undo brings a removed standby cue back, but not into standby; one that goes again is replaced.
        {3, [](CueEngine& e) { e.remove("c1"); e.undo(); }, "c2 |"},
        {3, [](CueEngine& e) { e.remove("c1"); e.undo(); e.standbyByID("c1"); e.redo(); }, "c2 |"},
        {3, [](CueEngine& e) { e.remove("c1"); e.undo(); e.fireCue("3", "x"); e.redo(); }, "none | c3"},
        {2, [](CueEngine& e) {
             e.go("x");
             e.upsert(withID<Mark>("m")); e.upsert(withID<Flag>("f")); e.upsert(withID<Memo>("n")); e.renumberCues();
             e.removeMark("m"); e.removeFlag("f"); e.removeMemo("n");
         }, "c2 | c1"},
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
    const CueSidecar mine = engine.sidecar();
    ASSERT_TRUE(engine.importSidecar(dir / "Other.tallowmark"));
    EXPECT_EQ(run(), "c1 | c2");
    const CueSidecar imported = engine.sidecar();
    writeText(dir / "bad.tallowmark", "{\"cues\":5}");
    EXPECT_FALSE(engine.importSidecar(dir / "bad.tallowmark") || engine.importSidecar(dir / "missing.tallowmark"));
    EXPECT_EQ(engine.sidecar(), imported);
    EXPECT_EQ(engine.undoDepth(), 2u) << "a failed import takes no step";
    ASSERT_TRUE(engine.undo());
    EXPECT_EQ(engine.sidecar(), mine);
    engine.standbyByID("c2");
    ASSERT_TRUE(engine.importSidecar(dir / "Other.tallowmark"));
    EXPECT_EQ(engine.standbyID(), "c2") << "a standby cue that is still there stays";
}

TEST_F(Engine, WithNoScriptOpenNothingIsWrittenOrImportedAndTheHistoryIsThatScriptsOwn) {
    EXPECT_FALSE(engine.saveSidecar(true));
    engine.upsert(numberedCue(1));
    EXPECT_EQ(engine.sidecar().cues.size(), 1u) << "the edit stands in memory";
    writeText(dir / "Other.tallowmark", *encodeSidecar(testing::sidecarWithCues(2)));
    EXPECT_FALSE(engine.importSidecar(dir / "Other.tallowmark"));
    EXPECT_EQ(engine.sidecar().cues.size(), 1u);
    EXPECT_EQ(engine.undoDepth(), 1u) << "the refused import takes no step";
    EngineAccess::loadFromMemory(engine, testing::sidecarWithCues(2));
    EXPECT_FALSE(engine.saveSidecar(false));
    engine.go("x");
    EXPECT_EQ(entries(), 1) << "Other only";

    engine.loadSidecar(pdf());
    engine.upsert({numberedCue(1), numberedCue(2)});
    engine.loadSidecar(dir / "Other.pdf");
    EXPECT_FALSE(engine.undo());
    engine.upsert(numberedCue(1));
    engine.unload();
    EXPECT_FALSE(engine.undo() || engine.redo());
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
    const auto offer = engine.resumeOffer();
    ASSERT_TRUE(offer);
    EXPECT_EQ(std::tuple(offer->firedCount, offer->total, offer->standby.id), std::tuple(3, 9, "c5"));
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
        EngineAccess::writer(*other).submit(
            "slow", [] { std::this_thread::sleep_for(300ms); }, FileWriter::Merge::keeps);
        for (int i = 0; i < 3; ++i) other->go("x");
        close(other);
        const auto state = decodeRunState(fs::exists(runFile()) ? readText(runFile()) : "");
        EXPECT_EQ(state ? state->standbyID + " | " + std::to_string(state->fired.size()) + " fired" : "no file",
                  "c4 | 3 fired") << when;
        if (other && other->sidecarURL() == marks()) {
            EXPECT_EQ(other->savedRun()->fired.size(), 3u) << when;
        }
    }
}

}  // namespace
}  // namespace tallowmark
