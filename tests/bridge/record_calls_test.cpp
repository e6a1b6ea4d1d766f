// The calls that edit the marks, run the show and change the settings, and
// what the page and the shell hear of them.

#include <algorithm>

#include "bridge_fixture.hpp"

namespace tallowmark {
namespace {

using testing::Reply;

class RecordCallsTest : public testing::BridgeFixture {
protected:
    void SetUp() override { ASSERT_TRUE(open(script()).value.is_object()); }
    Json state() { return call("getState").value; }
};

// Each kind of record stored under the id its upsert answers, then removed.
TEST_F(RecordCallsTest, EveryKindIsStoredUnderItsIdAndRemoved) {
    struct Row { const char *upsert, *remove, *list; Json record; };
    const Row rows[] = {
        {"upsertCue", "removeCue", "cues", {{"number", "4"}, {"label", "Rain"}}},
        {"upsertMark", "removeMark", "marks", {{"w", 0.3}}},
        {"upsertFlag", "removeFlag", "flags", {{"id", "F"}, {"role", "warn"}}},
        {"upsertMemo", "removeMemo", "memos", {{"text", "check"}}},
        {"upsertInsert", "removeInsert", "inserts", {{"id", "I"}, {"text", "added"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.upsert);
        const Json id = call(row.upsert, Json::array({row.record})).value;
        ASSERT_TRUE(id.is_string() && id != "");
        const Json stored = state()[row.list];
        ASSERT_EQ(stored.size(), 1u);
        EXPECT_EQ(stored[0]["id"], id);
        for (const auto& [key, value] : row.record.items()) EXPECT_EQ(stored[0][key], value) << key;
        EXPECT_EQ(call(row.remove, Json::array({id})).value, true);
        EXPECT_TRUE(state()[row.list].empty());
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
    EXPECT_TRUE(state()["cues"].size() == 1u && state()["marks"].empty());
    // Undo and redo answer the whole state.
    const Json undone = call("undo").value;
    EXPECT_TRUE(undone["cues"].size() == 3u && undone["canRedo"] == true) << undone["canRedo"];
    EXPECT_EQ(call("redo").value["cues"].size(), 1u);

    EXPECT_EQ(call("setSpreadOffset", Json::array({1.4})).value, 1);
    EXPECT_EQ(call("setPageText", Json::array({1, "Scene two"})).value, true);
    EXPECT_EQ(call("setPageLabelOffset", Json::array({-2})).value, true);
    const Json s = state();
    EXPECT_EQ(std::tie(s["spreadOffset"], s["pageLabelOffset"], s["pageTexts"]["1"]),
              std::tuple(Json(1), Json(-2), Json("Scene two")));
    EXPECT_NE(s["sidecarPath"], "");
}

// A run call answers its run change alone, which the page then hears as "runState".
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
    ASSERT_EQ(view->events.size(), 1u);
    EXPECT_EQ(view->events[0]["name"], "showLock");
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
    ASSERT_EQ(view->events.size(), 1u);
    EXPECT_EQ(view->events[0]["name"], "goIgnored");
    EXPECT_EQ(view->events[0]["payload"]["source"], "osc 10.0.0.5:9000");
    EXPECT_LT(view->events[0]["payload"]["sinceMs"].get<int>(), 2000);
    call("setSettings", Json::array({{{"goGuardMs", 0}}}));
    EXPECT_EQ(call("go").value["firedCount"], 2);
}

class SettingsCallsTest : public testing::BridgeFixture {};

// The window as the page's calls see it; the shell does the sizing.
class ScriptedShell : public BridgeShell {
public:
    bool ensureWindowWidth(std::int64_t width) override {
        widths.push_back(width);
        return width <= 1280;
    }
    double titleBarReserve() const override { return 8; }
    void maxTextChanged(bool maxText) override { told.push_back(maxText); }
    std::vector<std::int64_t> widths;
    std::vector<bool> told;
};

// A change answers the limited settings and restarts the listener only when one of its own changed.
TEST_F(SettingsCallsTest, SettingsAreLimitedSavedAndRestartTheListenerOnlyOnChange) {
    EXPECT_EQ(call("setSettings", Json::array({{{"renderWidth", 100}}})).value["renderWidth"], 600);
    EXPECT_EQ(call("getSettings").value["renderWidth"], 600);
    auto restarts = [&] {
        return std::ranges::count_if(call("getLog").value, [](const Json& e) { return e["text"] == "OSC pois kaytosta"; });
    };
    call("setSettings", Json::array({{{"oscPort", 53999}}}));
    EXPECT_EQ(restarts(), 1);
    call("setSettings", Json::array({{{"oscPort", 53999}, {"oscEnabled", false}}}));
    EXPECT_EQ(restarts(), 1);
    EXPECT_GE(std::ranges::count(timeline, "event controlStatus"), 1);

    int menuReports = 0;
    bridge->onMenuStateChange = [&] { ++menuReports; };
    EXPECT_EQ(call("menuState", Json::array({{{"hasDoc", true}}})).value, true);
    EXPECT_EQ(menuReports, 1);
    EXPECT_TRUE(bridge->menuState().hasDoc && bridge->menuState().theme == "deep") << bridge->menuState().theme;
    EXPECT_EQ(call("updateStatus").value, (Json{{"available", nullptr}, {"current", "20260101-1"}}));
}

TEST_F(SettingsCallsTest, TheShellSizesTheWindowAndFollowsMaximisedText) {
    auto shell = std::make_shared<ScriptedShell>();
    EXPECT_EQ(call("ensureWindowWidth", Json::array({800})).value, false);  // no shell yet
    EXPECT_EQ(call("windowChrome").value, (Json{{"reserve", 0}}));
    bridge->setShell(shell);
    EXPECT_EQ(call("windowChrome").value, (Json{{"reserve", 8}}));
    for (const auto& [width, answer] : std::vector<std::pair<Json, bool>>{{800, true}, {1000.6, true}, {2000, false},
                                                                           {0, false}, {-5, false}})
        EXPECT_EQ(call("ensureWindowWidth", Json::array({width})).value, answer) << width;
    EXPECT_EQ(shell->widths, (std::vector<std::int64_t>{800, 1001, 2000}));
    bridge->setWebView({});  // a window without its page is not the page's to size
    EXPECT_EQ(call("ensureWindowWidth", Json::array({800})).value, false);
    EXPECT_EQ(shell->widths.size(), 3u);

    for (bool maxText : {true, true, false}) call("setSettings", Json::array({{{"maxText", maxText}}}));
    EXPECT_EQ(shell->told, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace tallowmark
