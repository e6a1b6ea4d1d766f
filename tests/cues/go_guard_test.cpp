// The GO guard: the least time between two GOs, whatever sends them. Each row
// is a command at a moment of a clock the test holds; GOs and fires by number
// inside the guard fire nothing and are logged, BACK, RESET and standby moves
// pass and do not move the guard.

#include <gtest/gtest.h>

#include "cue_fixtures.hpp"

namespace tallowmark {
namespace {

using testing::EngineAccess;

struct Step {
    std::int64_t atMs;
    const char* command;  // "go", "fire <n>", "back", "reset", "standby <n>"
    std::string run;      // the run after it, as runOf writes it
    const char* logged = nullptr;  // the ignored GO's line, when the guard ignored it
};

struct GuardedShow {
    CueEngine engine;
    std::int64_t nowMs = 0;
    std::int64_t guardMs = 300;
    std::vector<std::string> lines;
    std::vector<std::pair<std::string, std::int64_t>> ignored;

    GuardedShow() {
        EngineAccess::loadFromMemory(engine, testing::sidecarWithCues(5));
        engine.setClock([this] { return nowMs * 1000; });
        engine.setGoGuard([this] { return guardMs; });
        engine.onLog = [this](const std::string& text, const std::string&) { lines.push_back(text); };
        engine.onGoIgnored = [this](const std::string& source, std::int64_t since) { ignored.emplace_back(source, since); };
    }

    void play(const Step& step) {
        nowMs = step.atMs;
        const std::string command = step.command;
        const std::size_t before = ignored.size();
        lines.clear();
        if (command == "go") engine.go("key");
        else if (command.starts_with("fire ")) engine.fireCue(command.substr(5), "osc 10.0.0.5:9000");
        else if (command == "back") engine.back("key");
        else if (command == "reset") engine.reset("key");
        else if (command.starts_with("standby ")) engine.standbyByNumber(command.substr(8), "msc dev1");
        EXPECT_EQ(testing::runOf(engine), step.run);
        if (step.logged) {
            ASSERT_EQ(ignored.size(), before + 1);
            EXPECT_EQ(lines, std::vector<std::string>{step.logged});
        } else {
            EXPECT_EQ(ignored.size(), before);
        }
    }
};

TEST(GoGuard, EveryKindOfGoWaitsOutTheGuardAndNothingElseDoes) {
    const Step steps[] = {
        {0, "go", "c2 | c1"},
        {120, "go", "c2 | c1", "GO ohitettu - 120 ms edellisesta GO:sta (suoja 300 ms)"},
        // A fire by number is a GO too.
        {250, "fire 4", "c2 | c1", "GO ohitettu - 250 ms edellisesta GO:sta (suoja 300 ms)"},
        // Ignored GOs do not move the guard: 300 ms after the last GO that went.
        {300, "go", "c3 | c1 c2"},
        {310, "back", "c2 | c1"},
        {320, "standby 4", "c4 | c1"},
        {330, "reset", "c1 |"},
        {340, "go", "c1 |", "GO ohitettu - 40 ms edellisesta GO:sta (suoja 300 ms)"},
        {600, "fire 3", "c4 | c3"},
        // An unknown number fires nothing and is not a GO for the guard.
        {900, "fire 9", "c4 | c3"},
        {901, "go", "c5 | c3 c4"},
    };
    GuardedShow show;
    for (const Step& step : steps) {
        SCOPED_TRACE(std::to_string(step.atMs) + " " + step.command);
        show.play(step);
    }
    EXPECT_EQ(show.ignored, (std::vector<std::pair<std::string, std::int64_t>>{
                                {"key", 120}, {"osc 10.0.0.5:9000", 250}, {"key", 40}}));
}

// The setting is read at each GO: off at 0, a change holds at once, and a
// value past the longest guard is the longest guard.
TEST(GoGuard, TheSettingIsReadAtEachGoAndBounded) {
    struct Row { std::int64_t guardMs, gapMs; bool secondFires; };
    const Row rows[] = {
        {0, 1, true}, {300, 299, false}, {300, 300, true}, {2000, 1999, false},
        {5000, 2000, true}, {-1, 1, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.guardMs) + " ms guard, " + std::to_string(row.gapMs) + " ms apart");
        GuardedShow show;
        show.guardMs = row.guardMs;
        show.engine.go("key");
        show.nowMs = row.gapMs;
        show.engine.go("key");
        EXPECT_EQ(show.engine.fired().size(), row.secondFires ? 2u : 1u);
    }
    // A bare engine (no setting wired) has no guard.
    CueEngine bare;
    EngineAccess::loadFromMemory(bare, testing::sidecarWithCues(3));
    for (int i = 0; i < 3; ++i) bare.go("x");
    EXPECT_EQ(bare.fired().size(), 3u);
}

}  // namespace
}  // namespace tallowmark
