#include <gtest/gtest.h>

#include "cue_fixtures.hpp"

namespace tallowmark {
namespace {

using testing::EngineEvents;
using testing::numberedCue;
using testing::sidecarWithCues;

class RunCommands : public ::testing::Test {
protected:
    void load(CueSidecar sidecar) {
        engine.loadFromMemoryForTesting(std::move(sidecar));
        events.attach(engine);
    }
    std::string standby() const { return engine.standbyID().value_or("none"); }

    CueEngine engine;
    EngineEvents events;
};

TEST_F(RunCommands, GoFiresStandbyAndNoObserverSeesTheFiredCueInStandby) {
    load(sidecarWithCues(10));
    std::vector<std::string> seenStandby;
    std::vector<bool> firedSeen;
    engine.onFire = [&](const Cue& cue, const std::string& source) {
        EXPECT_EQ(source, "desk");
        seenStandby.push_back(standby());
        firedSeen.push_back(engine.fired().contains(cue.id));
    };
    engine.onStateChange = [&] { seenStandby.push_back(standby()); };

    auto fired = engine.go("desk");
    ASSERT_TRUE(fired);
    EXPECT_EQ(fired->id, "c1");
    EXPECT_EQ(seenStandby, (std::vector<std::string>{"c2", "c2"}));
    EXPECT_EQ(firedSeen, std::vector<bool>{true});
    EXPECT_EQ(engine.lastFiredID(), "c1");
}

TEST_F(RunCommands, CallbacksComeInOrderLogFireState) {
    load(sidecarWithCues(2));
    engine.go("page");
    EXPECT_EQ(events.trace, (std::vector<std::string>{"log:GO 1 L1", "fire:c1", "state"}));
}

TEST_F(RunCommands, GoLogTextsWithAndWithoutNumberOrLabel) {
    CueSidecar sidecar;
    Cue a = numberedCue(1), b = numberedCue(2);
    a.label = "";
    b.number = "";
    sidecar.cues = {a, b};
    load(sidecar);
    engine.go("x");
    engine.go("x");
    engine.back("x");
    engine.standbyByNumber("1", "x");
    EXPECT_EQ(events.log, (std::vector<std::string>{"GO 1 ", "GO L2", "BACK -> L2", "STANDBY 1"}));
}

TEST_F(RunCommands, GoPastTheEndFiresSkippedCuesThenReportsNothingLeft) {
    load(sidecarWithCues(3));
    engine.fireCue("2", "x");  // skips cue 1
    engine.go("x");            // fires 3, standby none
    EXPECT_FALSE(engine.standbyID());
    auto skipped = engine.go("x");
    ASSERT_TRUE(skipped);
    EXPECT_EQ(skipped->id, "c1");
    EXPECT_EQ(standby(), "c2") << "standby follows the fired cue in script order";

    engine.go("x");
    engine.go("x");
    events.log.clear();
    const int before = events.stateChanges;
    EXPECT_FALSE(engine.go("x"));
    EXPECT_EQ(events.log, std::vector<std::string>{"GO ilman valmiutta - iskuja ei ole"});
    EXPECT_EQ(events.stateChanges, before);
}

TEST_F(RunCommands, GoWithoutCues) {
    load(CueSidecar{});
    EXPECT_FALSE(engine.go("x"));
    EXPECT_EQ(events.log, std::vector<std::string>{"GO ilman valmiutta - iskuja ei ole"});
    EXPECT_EQ(events.stateChanges, 0);
}

TEST_F(RunCommands, BackStepsStandbyAndUnfires) {
    load(sidecarWithCues(4));
    engine.go("x");
    engine.go("x");  // 1, 2 fired; standby 3
    engine.back("x");
    EXPECT_EQ(standby(), "c2");
    EXPECT_EQ(engine.fired(), CueEngine::IdSet{"c1"});
    EXPECT_EQ(engine.lastFiredID(), "c2") << "BACK leaves the last fired cue alone";
    engine.back("x");
    engine.back("x");  // already on the first cue: stays there
    EXPECT_EQ(standby(), "c1");
    EXPECT_TRUE(engine.fired().empty());
    EXPECT_EQ(events.log.back(), "BACK -> 1");

    for (int i = 0; i < 4; ++i) engine.go("x");
    EXPECT_FALSE(engine.standbyID());
    engine.back("x");
    EXPECT_EQ(standby(), "c4") << "BACK with no standby goes to the last cue";
    EXPECT_FALSE(engine.fired().contains("c4"));
}

TEST_F(RunCommands, BackWithoutCuesDoesNothing) {
    load(CueSidecar{});
    engine.back("x");
    EXPECT_TRUE(events.trace.empty());
}

TEST_F(RunCommands, ResetClearsTheRun) {
    load(sidecarWithCues(5));
    for (int i = 0; i < 3; ++i) engine.go("x");
    engine.reset("x");
    EXPECT_TRUE(engine.fired().empty());
    EXPECT_EQ(standby(), "c1");
    EXPECT_FALSE(engine.lastFiredID());
    EXPECT_EQ(events.log.back(), "RESET - valmius alkuun");
}

TEST_F(RunCommands, FireByNumberFiresAgainAndStandbyFollowsIt) {
    load(sidecarWithCues(5));
    for (int i = 0; i < 4; ++i) engine.go("x");
    auto cue = engine.fireCue("1", "x");
    ASSERT_TRUE(cue);
    EXPECT_EQ(cue->id, "c1");
    EXPECT_EQ(standby(), "c2") << "even though cue 2 was fired before";

    events.log.clear();
    EXPECT_FALSE(engine.fireCue(" 9x ", "x"));
    EXPECT_EQ(events.log, std::vector<std::string>{"Cue \" 9x \" ei ole kasikirjoituksessa"});
}

TEST_F(RunCommands, StandbyCommandsLeaveFiredAlone) {
    load(sidecarWithCues(5));
    engine.go("x");
    engine.go("x");
    const auto fired = engine.fired();

    auto cue = engine.standbyByNumber("4", "x");
    ASSERT_TRUE(cue);
    EXPECT_EQ(standby(), "c4");
    EXPECT_EQ(events.log.back(), "STANDBY 4");
    engine.standbyByID("c5");
    EXPECT_EQ(standby(), "c5");
    EXPECT_EQ(engine.fired(), fired);

    const int changes = events.stateChanges;
    engine.standbyByID("nope");
    EXPECT_EQ(standby(), "c5");
    EXPECT_EQ(events.stateChanges, changes);

    EXPECT_FALSE(engine.standbyByNumber(" q7a", "x"));
    EXPECT_EQ(events.log.back(), "STANDBY \" q7a\" ei osunut mihinkaan") << "the number as typed";
    EXPECT_EQ(standby(), "c5");
}

TEST(CueNumbers, Normalize) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {" q7a ", "Q7A"}, {"\tq7a\t", "Q7A"}, {"12.0", "12"}, {"012", "12"},  {"12.5", "12.5"},
        {"12.50", "12.50"}, {"-0", "0"},      {"+5", "5"},     {"1e3", "1000"}, {"999999999", "999999999"},
        {"1000000000", "1000000000"},        {"1e9", "1E9"},  {"straße", "STRASSE"}, {"é1", "É1"},
        {"", ""},           {"12 ", "12"},     {"\n12", "\n12"}, {"inf", "INF"}, {"nan", "NAN"},
        {"\xc2\xa0" "7", "7"},  // no-break space is trimmed like a space
    };
    for (const auto& c : cases) EXPECT_EQ(CueEngine::normalize(c.in), c.out) << "'" << c.in << "'";
}

TEST_F(RunCommands, LookupByNumberUsesNormalisedForms) {
    CueSidecar sidecar = sidecarWithCues(2);
    sidecar.cues[0].number = "12.5";
    sidecar.cues[1].number = "12";
    load(sidecar);
    EXPECT_TRUE(engine.standbyByNumber("12.5", "x"));
    EXPECT_FALSE(engine.standbyByNumber("12.50", "x"));
    auto twelve = engine.standbyByNumber(" 12.0 ", "x");
    ASSERT_TRUE(twelve);
    EXPECT_EQ(twelve->id, "c2");
}

TEST_F(RunCommands, ScriptOrderIsPageThenYThenXAndStableForTies) {
    CueSidecar sidecar;
    auto make = [](const char* id, std::int64_t page, double y, double x) {
        Cue c;
        c.id = id;
        c.page = page;
        c.y = y;
        c.x = x;
        return c;
    };
    sidecar.cues = {make("late", 2, 0.1, 0.1), make("tieA", 1, 0.5, 0.5), make("right", 1, 0.5, 0.9),
                    make("tieB", 1, 0.5, 0.5), make("top", 1, 0.2, 0.9)};
    load(sidecar);
    std::vector<std::string> ids;
    for (const Cue& c : engine.ordered()) ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"top", "tieA", "tieB", "right", "late"}));
    EXPECT_EQ(standby(), "top");
}

}  // namespace
}  // namespace tallowmark
