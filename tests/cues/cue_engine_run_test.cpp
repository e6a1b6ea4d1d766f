#include <gtest/gtest.h>

#include "cue_fixtures.hpp"

namespace tallowmark {
namespace {

using testing::EngineEvents;
using testing::numberedCue;
using testing::sidecarWithCues;

// Runs in memory: no script file is opened.
class RunCommands : public testing::ShowFolder {
protected:
    void load(CueSidecar sidecar) {
        testing::EngineAccess::loadFromMemory(engine, std::move(sidecar));
        events.attach(engine);
    }

    EngineEvents events;
};

TEST_F(RunCommands, GoFiresStandbyAndCallbacksComeInOrderWithStandbyAlreadyMoved) {
    load(sidecarWithCues(10));
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

// A run change is reported as the cues it touched, so the page can be sent
// that much; edits still report the whole state. Every report counts one
// change, so an old report can be told from a new one.
TEST_F(RunCommands, RunChangesReportWhatTheyTouchedAndEditsTheWholeState) {
    load(sidecarWithCues(5));
    std::vector<std::string> seen;
    engine.onStateChange = [&] { seen.push_back("state " + std::to_string(engine.changeCount())); };
    engine.onRunChange = [&](const CueEngine::RunChange& c) {
        std::string text = std::to_string(c.from) + "->" + std::to_string(c.seq) + (c.clear ? " clear" : "");
        for (const std::string& id : c.touched) text += " " + id + (engine.fired().contains(id) ? "+" : "-");
        seen.push_back(text + " | " + run());
    };
    const std::uint64_t start = engine.changeCount();
    go(2);
    engine.back("x");
    engine.standbyByNumber("4", "x");
    engine.fireCue("1", "x");
    engine.go("x");  // GO past nothing fired: c4 is standby
    engine.remove("c5");
    engine.reset("x");
    const auto at = [&](int n) { return std::to_string(start + n); };
    EXPECT_EQ(seen, (std::vector<std::string>{
                        at(0) + "->" + at(1) + " c1+ | c2 | c1",
                        at(1) + "->" + at(2) + " c2+ | c3 | c1 c2",
                        at(2) + "->" + at(3) + " c2- | c2 | c1",
                        at(3) + "->" + at(4) + " | c4 | c1",
                        at(4) + "->" + at(5) + " c1+ | c2 | c1",
                        at(5) + "->" + at(6) + " c2+ | c3 | c1 c2",
                        "state " + at(7),
                        at(7) + "->" + at(8) + " clear | c1 |",
                    }));
    // Without a run listener the owner hears of run changes as state changes.
    engine.onRunChange = nullptr;
    seen.clear();
    engine.go("x");
    EXPECT_EQ(seen, std::vector<std::string>{"state " + at(9)});
}

TEST_F(RunCommands, LogTextsWithAndWithoutNumberOrLabel) {
    CueSidecar sidecar;
    Cue a = numberedCue(1), b = numberedCue(2);
    a.label = "";
    b.number = "";
    sidecar.cues = {a, b};
    load(sidecar);
    go(2);
    engine.back("x");
    engine.standbyByNumber("1", "x");
    EXPECT_EQ(events.log, (std::vector<std::string>{"GO 1 ", "GO L2", "BACK -> L2", "STANDBY 1"}));
}

TEST_F(RunCommands, GoPastTheEndFiresSkippedCuesThenReportsNothingLeftAndResetStartsOver) {
    load(sidecarWithCues(3));
    engine.fireCue("2", "x");  // skips cue 1
    go(1);
    EXPECT_EQ(run(), "none | c2 c3");
    EXPECT_EQ(engine.go("x").value().id, "c1");
    EXPECT_EQ(run(), "c2 | c1 c2 c3") << "standby follows the fired cue in script order";

    go(2);
    events.log.clear();
    const int before = events.stateChanges;
    EXPECT_FALSE(engine.go("x"));
    EXPECT_EQ(events.log, std::vector<std::string>{"GO ilman valmiutta - iskuja ei ole"});
    EXPECT_EQ(events.stateChanges, before);

    engine.reset("x");
    EXPECT_EQ(run(), "c1 |");
    EXPECT_FALSE(engine.lastFiredID());
    EXPECT_EQ(events.log.back(), "RESET - valmius alkuun");
}

TEST_F(RunCommands, BackStepsStandbyAndUnfires) {
    load(sidecarWithCues(4));
    go(2);
    engine.back("x");
    EXPECT_EQ(run(), "c2 | c1");
    EXPECT_EQ(engine.lastFiredID(), "c2") << "BACK leaves the last fired cue alone";
    engine.back("x");
    engine.back("x");  // already on the first cue: stays there
    EXPECT_EQ(run(), "c1 |");
    EXPECT_EQ(events.log.back(), "BACK -> 1");

    go(4);
    engine.back("x");
    EXPECT_EQ(run(), "c4 | c1 c2 c3") << "BACK with no standby goes to the last cue";

    load(CueSidecar{});
    const auto before = std::pair(events.log.size(), events.stateChanges);
    engine.back("x");
    EXPECT_EQ(std::pair(events.log.size(), events.stateChanges), before) << "no cues: nothing to step back to";
}

TEST_F(RunCommands, FireAndStandbyByNumber) {
    load(sidecarWithCues(5));
    go(4);
    EXPECT_EQ(engine.fireCue("1", "x").value().id, "c1");
    EXPECT_EQ(run(), "c2 | c1 c2 c3 c4") << "standby follows the fired cue, fired before or not";

    EXPECT_EQ(engine.standbyByNumber("4", "x").value().id, "c4");
    EXPECT_EQ(events.log.back(), "STANDBY 4");
    engine.standbyByID("c5");
    const int changes = events.stateChanges;
    engine.standbyByID("nope");
    EXPECT_EQ(events.stateChanges, changes);
    EXPECT_EQ(run(), "c5 | c1 c2 c3 c4") << "standby commands leave the fired set alone";

    EXPECT_FALSE(engine.standbyByNumber(" q7a", "x"));
    EXPECT_FALSE(engine.fireCue(" 9x ", "x"));
    EXPECT_EQ(std::vector(events.log.end() - 2, events.log.end()),
              (std::vector<std::string>{"STANDBY \" q7a\" ei osunut mihinkaan",  // the number as typed
                                        "Cue \" 9x \" ei ole kasikirjoituksessa"}));
    EXPECT_EQ(run(), "c5 | c1 c2 c3 c4");
}

TEST(CueNumbers, Normalize) {
    const std::pair<const char*, const char*> cases[] = {
        {" q7a ", "Q7A"}, {"\tq7a\t", "Q7A"}, {"\xc2\xa0" "7", "7"},  // a no-break space trims like a space
        {"\n12", "\n12"}, {"", ""}, {"12.0", "12"}, {"012", "12"}, {"-0", "0"}, {"1e3", "1000"}, {"12.50", "12.50"},
        {"999999999.0", "999999999"}, {"1e9", "1E9"}, {"inf", "INF"}, {"straße", "STRASSE"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(CueEngine::normalize(in), out) << "'" << in << "'";
}

TEST_F(RunCommands, LookupByNumberUsesNormalisedForms) {
    CueSidecar sidecar = sidecarWithCues(2);
    sidecar.cues[0].number = "12.5";
    sidecar.cues[1].number = "12";
    load(sidecar);
    EXPECT_TRUE(engine.standbyByNumber("12.5", "x"));
    EXPECT_FALSE(engine.standbyByNumber("12.50", "x"));
    EXPECT_EQ(engine.standbyByNumber(" 12.0 ", "x").value().id, "c2");
}

TEST_F(RunCommands, ScriptOrderIsPageThenYThenXAndStableForTies) {
    CueSidecar sidecar;
    const std::tuple<const char*, int, double, double> placed[] = {
        {"late", 2, 0.1, 0.1}, {"tieA", 1, 0.5, 0.5}, {"right", 1, 0.5, 0.9}, {"tieB", 1, 0.5, 0.5}, {"top", 1, 0.2, 0.9}};
    for (const auto& [id, page, y, x] : placed) sidecar.cues.push_back(Cue{.id = id, .page = page, .x = x, .y = y});
    load(sidecar);
    std::vector<std::string> ids;
    for (const Cue& c : engine.ordered()) ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"top", "tieA", "tieB", "right", "late"}));
    EXPECT_EQ(engine.standbyID(), "top");
}

}  // namespace
}  // namespace tallowmark
