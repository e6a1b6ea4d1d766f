// The calls for settings, the menu state and the shell: what a change of a
// setting brings along, and what the shell is asked and told.

#include "bridge_fixture.hpp"

namespace tallowmark {
namespace {

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

TEST_F(SettingsCallsTest, SettingsAreLimitedSavedAndRestartTheListenerOnlyOnChange) {
    EXPECT_EQ(call("setSettings", Json::array({{{"renderWidth", 100}}})).value["renderWidth"], 600);
    EXPECT_EQ(call("setSettings", Json::array({{{"renderWidth", "900"}}})).value["renderWidth"], 600);
    EXPECT_EQ(call("getSettings").value["renderWidth"], 600);

    auto restarts = [&] {
        int n = 0;
        for (const Json& entry : call("getLog").value) n += entry["text"] == "OSC pois kaytosta";
        return n;
    };
    call("setSettings", Json::array({{{"oscPort", 53999}}}));
    EXPECT_EQ(restarts(), 1);
    call("setSettings", Json::array({{{"oscPort", 53999}, {"oscEnabled", false}}}));
    EXPECT_EQ(restarts(), 1);
    const auto names = view->names();
    EXPECT_NE(std::find(names.begin(), names.end(), "controlStatus"), names.end());

    int menuReports = 0;
    bridge->onMenuStateChange = [&] { ++menuReports; };
    EXPECT_EQ(call("menuState", Json::array({{{"hasDoc", true}}})).value, true);
    EXPECT_EQ(menuReports, 1);
    EXPECT_TRUE(bridge->menuState().hasDoc);
    EXPECT_EQ(bridge->menuState().theme, "deep");
    EXPECT_EQ(call("updateStatus").value, (Json{{"available", nullptr}, {"current", "20260101-1"}}));
}

TEST_F(SettingsCallsTest, TheShellSizesTheWindowAndFollowsMaximisedText) {
    auto shell = std::make_shared<ScriptedShell>();
    EXPECT_EQ(call("ensureWindowWidth", Json::array({800})).value, false);  // no shell yet
    EXPECT_EQ(call("windowChrome").value, (Json{{"reserve", 0}}));
    bridge->setShell(shell);
    EXPECT_EQ(call("windowChrome").value, (Json{{"reserve", 8}}));
    struct Row {
        Json width;
        bool answer;
    };
    for (const Row& row : std::vector<Row>{{800, true}, {1000.6, true}, {2000, false}, {0, false}, {-5, false}})
        EXPECT_EQ(call("ensureWindowWidth", Json::array({row.width})).value, row.answer) << row.width;
    EXPECT_EQ(shell->widths, (std::vector<std::int64_t>{800, 1001, 2000}));
    bridge->setWebView({});  // a window without its page is not the page's to size
    EXPECT_EQ(call("ensureWindowWidth", Json::array({800})).value, false);
    EXPECT_EQ(shell->widths.size(), 3u);

    for (bool maxText : {true, true, false}) call("setSettings", Json::array({{{"maxText", maxText}}}));
    EXPECT_EQ(shell->told, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace tallowmark
