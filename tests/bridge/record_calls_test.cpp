// The calls that edit the marks and run the show, and the events the page
// gets of them: after the reply, to every view, the run as a change alone.

#include "bridge_fixture.hpp"

namespace tallowmark {
namespace {

using testing::Reply;

class RecordCallsTest : public testing::BridgeFixture {
protected:
    void SetUp() override { ASSERT_TRUE(open(script()).value.is_object()); }
    Json state() { return call("getState").value; }
};

// Each kind of record through its two rows: stored under the id it answers
// (a new one when none is given), then gone.
TEST_F(RecordCallsTest, EveryKindIsStoredUnderItsIdAndRemoved) {
    struct Row {
        const char* upsert;
        const char* remove;
        const char* list;
        Json record;
    };
    const std::vector<Row> rows = {
        {"upsertCue", "removeCue", "cues", {{"number", "4"}, {"label", "Rain"}}},
        {"upsertMark", "removeMark", "marks", {{"w", 0.3}}},
        {"upsertFlag", "removeFlag", "flags", {{"id", "F"}, {"role", "warn"}}},
        {"upsertMemo", "removeMemo", "memos", {{"text", "check"}}},
        {"upsertInsert", "removeInsert", "inserts", {{"id", "I"}, {"text", "added"}}},
    };
    for (const Row& row : rows) {
        const Json id = call(row.upsert, Json::array({row.record})).value;
        ASSERT_TRUE(id.is_string()) << row.upsert;
        if (!row.record.contains("id")) {
            EXPECT_EQ(id.get<std::string>().size(), 36u) << row.upsert;
        }
        const Json stored = state()[row.list];
        ASSERT_EQ(stored.size(), 1u) << row.upsert;
        EXPECT_EQ(stored[0]["id"], id);
        for (const auto& [key, value] : row.record.items()) EXPECT_EQ(stored[0][key], value) << row.upsert << " " << key;
        EXPECT_EQ(call(row.remove, Json::array({id})).value, true);
        EXPECT_TRUE(state()[row.list].empty()) << row.remove;
    }
}

TEST_F(RecordCallsTest, EditsAnswerFirstThenEveryViewHearsTheWholeState) {
    auto monitor = std::make_shared<testing::RecordingView>(timeline);
    bridge->setConfidenceWebView(monitor);
    timeline.clear();
    const Reply placed = call("upsertCue", Json::array({{{"number", "1"}, {"page", 0}, {"y", 0.2}}}));
    EXPECT_EQ(timeline, (std::vector<std::string>{"reply upsertCue", "event cueState", "event cueState"}));
    EXPECT_EQ(view->events.back()["payload"]["cues"][0]["id"], placed.value);
    EXPECT_EQ(monitor->events.back(), view->events.back());
    monitor.reset();  // the monitor closed: its events are dropped, the main view's still arrive

    const Json ids = call("upsertCues", Json::array({Json::array({{{"id", "C2"}, {"number", "2"}, {"y", 0.6}},
                                                                 {{"id", "C3"}, {"page", 1}}})})).value;
    EXPECT_EQ(ids, Json::array({"C2", "C3"}));
    EXPECT_EQ(view->events.back()["payload"]["cues"].size(), 3u);
    EXPECT_EQ(call("upsertMarks", Json::array({Json::array({{{"id", "M1"}}, {{"id", "M2"}}})})).value,
              Json::array({"M1", "M2"}));
    call("removeMarks", Json::array({Json::array({"M1", "M2"})}));
    call("removeCues", Json::array({Json::array({"C2", "C3"})}));
    EXPECT_EQ(state()["cues"].size(), 1u);
    EXPECT_TRUE(state()["marks"].empty());
    Json undone = call("undo").value;
    EXPECT_EQ(undone["cues"].size(), 3u);
    EXPECT_EQ(undone["canRedo"], true);
    EXPECT_EQ(call("redo").value["cues"].size(), 1u);

    EXPECT_EQ(call("setSpreadOffset", Json::array({1.4})).value, 1);
    EXPECT_EQ(call("setPageText", Json::array({1, "Scene two"})).value, true);
    EXPECT_EQ(call("setPageLabelOffset", Json::array({-2})).value, true);
    const Json s = state();
    EXPECT_EQ(s["spreadOffset"], 1);
    EXPECT_EQ(s["pageLabelOffset"], -2);
    EXPECT_EQ(s["pageTexts"]["1"], "Scene two");
    EXPECT_NE(s["sidecarPath"], "");
}

// The run calls answer with their run change alone, and the page hears of it
// as "runState", never as the whole state.
TEST_F(RecordCallsTest, RunCallsAnswerAndSendTheirChangeAlone) {
    const Json first = call("upsertCue", Json::array({{{"number", "1"}, {"y", 0.2}}})).value;
    call("upsertCues", Json::array({Json::array({{{"id", "C2"}, {"number", "2"}, {"y", 0.6}},
                                                 {{"id", "C3"}, {"page", 1}}})}));
    call("standbyCue", Json::array({"C3"}));
    EXPECT_EQ(state()["standbyID"], "C3");
    EXPECT_EQ(call("standbyCue", Json::array({first})).value, true);
    struct Step { const char* name; Json args, change; };
    const Step steps[] = {
        {"go", Json::array(), {{"lastFiredID", first}, {"standbyID", "C2"}, {"fired", Json::array({first})}, {"firedCount", 1}}},
        {"go", Json::array({"osc"}), {{"fired", Json::array({"C2"})}, {"firedCount", 2}, {"total", 3}}},
        {"back", Json::array(), {{"standbyID", "C2"}, {"unfired", Json::array({"C2"})}, {"firedCount", 1}}},
        {"reset", Json::array(), {{"clear", true}, {"fired", Json::array()}, {"firedCount", 0}}},
    };
    for (const Step& step : steps) {
        timeline.clear();
        const Json run = call(step.name, step.args).value;
        Json seen = Json::object();
        for (const auto& [key, value] : step.change.items()) seen[key] = run[key];
        EXPECT_EQ(seen, step.change) << step.name;
        EXPECT_EQ(run["seq"].get<int>(), run["from"].get<int>() + 1) << step.name;
        EXPECT_FALSE(run.contains("cues")) << step.name;
        EXPECT_EQ(timeline, (std::vector<std::string>{std::string("reply ") + step.name, "event runState"}));
        EXPECT_EQ(state()["seq"], run["seq"]) << step.name;
    }
    // With every cue fired nothing changes: the run as it stands, as a change of nothing.
    for (int i = 0; i < 3; ++i) call("go");
    const Json run = call("go").value;
    EXPECT_EQ(run["seq"], run["from"]);
    EXPECT_EQ(run["firedCount"], 3);
}

// A locked show runs and reads but refuses every edit of its marks, whatever
// the page sends, and comes back locked when the script opens again.
TEST_F(RecordCallsTest, ALockedShowRunsButRefusesEveryEditAndStaysLocked) {
    call("upsertCues", Json::array({Json::array({{{"id", "C1"}, {"number", "1"}}, {{"id", "C2"}, {"number", "2"}}})}));
    view->events.clear();
    EXPECT_EQ(call("setShowLocked", Json::array({true})).value, true);
    EXPECT_EQ(view->names(), std::vector<std::string>{"showLock"});
    EXPECT_EQ(call("currentDocument").value["locked"], true);
    const std::vector<std::pair<const char*, Json>> edits = {
        {"upsertCue", Json::array({{{"number", "3"}}})}, {"removeCue", Json::array({"C1"})},
        {"removeCues", Json::array({Json::array({"C2"})})}, {"upsertMemo", Json::array({{{"text", "x"}}})},
        {"renumberCues", Json::array()}, {"undo", Json::array()}, {"setPageText", Json::array({0, "Act one"})},
        {"setCrop", Json::array({Json::array({0.1, 0.1, 0.8, 0.8})})},
    };
    for (const auto& [name, body] : edits) EXPECT_EQ(call(name, body).error, showLockedError) << name;
    EXPECT_EQ(state()["cues"].size(), 2u);
    EXPECT_EQ(call("go").value["firedCount"], 1);
    EXPECT_EQ(call("standbyCue", Json::array({"C1"})).value, true);
    EXPECT_EQ(call("setShowLocked", Json::array({"no"})).value, true) << "only false unlocks";

    const std::string settingsText = testing::readText(dir / "settings.json");
    call("closeDocument");
    EXPECT_EQ(open(script()).value["locked"], true);
    EXPECT_NE(settingsText.find("lockedScripts"), std::string::npos);
    EXPECT_EQ(call("setShowLocked", Json::array({false})).value, false);
    EXPECT_TRUE(call("upsertCue", Json::array({{{"number", "3"}}})).value.is_string());
    call("closeDocument");
    EXPECT_EQ(open(script()).value["locked"], false);
}

// The guard is the settings': a GO inside it answers the run unchanged, and
// every view hears it was ignored, with its source, to flash GO once.
TEST_F(RecordCallsTest, AGoInsideTheGuardFiresNothingAndEveryViewHearsOfIt) {
    call("upsertCues", Json::array({Json::array({{{"id", "C1"}, {"number", "1"}}, {{"id", "C2"}, {"number", "2"}}})}));
    call("setSettings", Json::array({{{"goGuardMs", 2000}}}));
    EXPECT_EQ(call("go").value["firedCount"], 1);
    view->events.clear();
    const Json ignored = call("go", Json::array({"osc 10.0.0.5:9000"})).value;
    EXPECT_EQ(ignored["seq"], ignored["from"]);
    EXPECT_EQ(ignored["firedCount"], 1);
    ASSERT_EQ(view->names(), std::vector<std::string>{"goIgnored"});
    EXPECT_EQ(view->events[0]["payload"]["source"], "osc 10.0.0.5:9000");
    EXPECT_LT(view->events[0]["payload"]["sinceMs"].get<int>(), 2000);
    call("setSettings", Json::array({{{"goGuardMs", 0}}}));
    EXPECT_EQ(call("go").value["firedCount"], 2);
}

}  // namespace
}  // namespace tallowmark
