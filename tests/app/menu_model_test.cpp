#include "app/model/menu_model.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

namespace tallowmark {
namespace {

const std::vector<MenuItem>& allItems() {
    static const std::vector<MenuItem> items = [] {
        std::vector<MenuItem> all;
        for (const MenuDefinition& menu : mainMenu("TALLOWMARK"))
            for (const MenuSection& section : menu.sections)
                all.insert(all.end(), section.items.begin(), section.items.end());
        return all;
    }();
    return items;
}

const MenuItem& itemFor(const std::string& action) {
    for (const MenuItem& item : allItems())
        if (actionName(item) == action) return item;
    ADD_FAILURE() << "no menu item for " << action;
    static const MenuItem none;
    return none;
}

TEST(MenuValidation, EnabledAndTickedFromTheMenuState) {
    const auto validate = [](const char* action, const MenuState& state) {
        return validateMenuItem(itemFor(action), state, MenuContext{true, false});
    };
    // Commands that need a script: off without one, whatever else is true; never ticked.
    for (const char* action : {"cmd-go", "cmd-closeScript", "cmd-exportMarkedPDF", "cmd-zoomIn", "cmd-fitWidth",
                               "cmd-textLarger", "cmd-textSmaller", "cmd-importCues", "cmd-insertLine", "cmd-crop",
                               "cmd-resetCrop"}) {
        MenuState state;
        state.hasSelection = true;
        EXPECT_EQ(validate(action, state), (MenuItemState{false, std::nullopt})) << action;
        state.hasDoc = true;
        EXPECT_EQ(validate(action, state), (MenuItemState{true, std::nullopt})) << action;
    }
    struct Row { const char* action; std::function<void(MenuState&)> change; bool enabled; std::optional<bool> checked; };
    const auto same = [](MenuState&) {};
    const std::optional<bool> no;
    const std::vector<Row> rows = {
        // Commands that need a selected cue, whatever else is true.
        {"cmd-deleteCue", [](MenuState& s) { s.hasDoc = true; }, false, no},
        {"cmd-cueSettings", [](MenuState& s) { s.hasSelection = true; }, true, no},
        // Commands that are always there.
        {"cmd-open", same, true, no}, {"cmd-find", same, true, no}, {"cmd-settings", same, true, no},
        // Ticks.
        {"cmd-theme-dark", [](MenuState& s) { s.theme = "dark"; }, true, true},
        {"cmd-theme-deep", [](MenuState& s) { s.theme = "dark"; }, true, false},
        {"cmd-onePage", [](MenuState& s) { s.pagesPerSpread = 1; }, true, true},
        {"cmd-twoPages", [](MenuState& s) { s.pagesPerSpread = 1; }, true, false},
        {"cmd-twoPages", [](MenuState& s) { s.pagesPerSpread = 3; }, true, true},
        {"cmd-toggleMemos", [](MenuState& s) { s.memosVisible = false; }, true, false},
        {"cmd-toggleSidebar", [](MenuState& s) { s.sidebarVisible = true; }, true, true},
        {"cmd-maxText", [](MenuState& s) { s.maxText = true; }, true, true},
        {"cmd-dim", [](MenuState& s) { s.dimmed = true; }, true, true},
        {"cmd-cueMode", [](MenuState& s) { s.cueMode = true; }, false, true},
        {"cmd-cueMode", [](MenuState& s) { s.hasDoc = true; }, true, false},
        // Shift Pairing: needs a script shown in spreads; ticked at offset 1 only.
        {"cmd-shiftPairing", [](MenuState& s) { s.hasDoc = true; s.spreadOffset = 1; }, true, true},
        {"cmd-shiftPairing", [](MenuState& s) { s.hasDoc = true; s.pagesPerSpread = 1; }, false, false},
        {"cmd-shiftPairing", [](MenuState& s) { s.spreadOffset = 1; }, false, true},
        {"cmd-shiftPairing", [](MenuState& s) { s.hasDoc = true; s.spreadOffset = 2; }, true, false},
        // A locked show: ticked; nothing that edits the marks, the run and reading as ever.
        {"cmd-lockShow", [](MenuState& s) { s.hasDoc = s.locked = true; }, true, true},
        {"cmd-lockShow", [](MenuState& s) { s.locked = true; }, false, true},
        {"cmd-cueMode", [](MenuState& s) { s.hasDoc = s.locked = true; }, false, false},
        {"cmd-undo", [](MenuState& s) { s.hasDoc = s.locked = true; }, false, std::nullopt},
        {"cmd-deleteCue", [](MenuState& s) { s.hasSelection = s.locked = true; }, false, std::nullopt},
        {"cmd-crop", [](MenuState& s) { s.hasDoc = s.locked = true; }, false, std::nullopt},
        {"cmd-go", [](MenuState& s) { s.hasDoc = s.locked = true; }, true, std::nullopt},
        {"cmd-exportMarkedPDF", [](MenuState& s) { s.hasDoc = s.locked = true; }, true, std::nullopt},
    };
    for (const Row& row : rows) {
        MenuState state;
        state.theme = "deep";
        row.change(state);
        EXPECT_EQ(validate(row.action, state), (MenuItemState{row.enabled, row.checked})) << row.action;
    }
}

TEST(MenuValidation, BeforeThePageOnlyTheShellsOwnItemsAreEnabled) {
    MenuState everything;
    everything.hasDoc = everything.hasSelection = true;
    std::set<std::string> enabled;
    for (const MenuItem& item : allItems()) {
        const bool standard = item.role >= MenuRole::quit;
        if (!standard && validateMenuItem(item, everything, MenuContext{false, false}).enabled)
            enabled.insert(actionName(item));
    }
    EXPECT_EQ(enabled, (std::set<std::string>{"about", "check-updates", "help", "report-issue"}));

    const MenuItem& monitor = itemFor("confidence-monitor");
    EXPECT_EQ(validateMenuItem(monitor, everything, {true, true}), (MenuItemState{true, true}));
    EXPECT_EQ(validateMenuItem(monitor, everything, {true, false}), (MenuItemState{true, false}));
    EXPECT_TRUE(!clearRecentsEnabled({}) && clearRecentsEnabled({"/a.pdf"}));
}

TEST(MenuTable, ActionsAndKeysAreUniqueAndTheShowKeysStayWithThePage) {
    std::map<std::string, std::string> keyOwner;
    std::set<std::string> actions;
    for (const MenuItem& item : allItems()) {
        EXPECT_TRUE(actions.insert(actionName(item)).second) << "two items share " << actionName(item);
        for (const std::string& key : item.keys) {
            const auto [it, fresh] = keyOwner.emplace(key, item.label);
            EXPECT_TRUE(fresh) << key << " on both " << it->second << " and " << item.label;
            // Plain Return or Backspace as accelerators would fire cues while a label is typed.
            EXPECT_TRUE(key != "Return" && key != "BackSpace") << item.label;
        }
    }
    const auto& zoomIn = itemFor("cmd-zoomIn").keys;
    EXPECT_TRUE(std::ranges::count(zoomIn, "<Control>plus") && std::ranges::count(zoomIn, "<Control>equal"));
    EXPECT_EQ(itemFor("confidence-monitor").keys, (std::vector<std::string>{"<Control><Shift>m"}));
    EXPECT_EQ(itemFor("cmd-go").keys, std::vector<std::string>{});
    EXPECT_EQ(itemFor("cmd-revealSidecar").label, "Show Script in Files");
}

TEST(MenuCommand, SplitsOnceAtTheFirstColon) {
    EXPECT_EQ(menuCommandPayload("go"), (Json{{"command", "go"}}));
    EXPECT_EQ(menuCommandPayload("theme:deep"), (Json{{"command", "theme"}, {"value", "deep"}}));
    EXPECT_EQ(menuCommandPayload("a:b:c"), (Json{{"command", "a"}, {"value", "b:c"}}));
    EXPECT_EQ(menuCommandPayload("page:"), (Json{{"command", "page"}, {"value", ""}}));
}

}  // namespace
}  // namespace tallowmark
