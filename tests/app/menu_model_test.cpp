#include "app/model/menu_model.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

namespace tallowmark {
namespace {

std::vector<MenuItem> allItems() {
    std::vector<MenuItem> items;
    for (const MenuDefinition& menu : mainMenu("TALLOWMARK"))
        for (const MenuSection& section : menu.sections)
            for (const MenuItem& item : section.items) items.push_back(item);
    return items;
}

const MenuItem& itemFor(const std::vector<MenuItem>& items, const std::string& action) {
    for (const MenuItem& item : items)
        if (actionName(item) == action) return item;
    ADD_FAILURE() << "no menu item for " << action;
    static const MenuItem none;
    return none;
}

TEST(MenuValidation, EnabledAndTickedFromTheMenuState) {
    const auto items = allItems();
    const auto validate = [&](const char* action, const MenuState& state) {
        return validateMenuItem(itemFor(items, action), state, MenuContext{true, false});
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
    const std::vector<Row> rows = {
        // Commands that need a selected cue, whatever else is true.
        {"cmd-deleteCue", [](MenuState& s) { s.hasDoc = true; }, false, std::nullopt},
        {"cmd-cueSettings", [](MenuState& s) { s.hasSelection = true; }, true, std::nullopt},
        // Commands that are always there.
        {"cmd-open", [](MenuState&) {}, true, std::nullopt},
        {"cmd-find", [](MenuState&) {}, true, std::nullopt},
        {"cmd-settings", [](MenuState&) {}, true, std::nullopt},
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

    const auto items = allItems();
    const MenuItem& monitor = itemFor(items, "confidence-monitor");
    EXPECT_EQ(validateMenuItem(monitor, everything, {true, true}), (MenuItemState{true, true}));
    EXPECT_EQ(validateMenuItem(monitor, everything, {true, false}), (MenuItemState{true, false}));
    EXPECT_FALSE(clearRecentsEnabled({}));
    EXPECT_TRUE(clearRecentsEnabled({"/a.pdf"}));
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
            EXPECT_NE(key, "Return");
            EXPECT_NE(key, "BackSpace");
        }
    }
    const auto items = allItems();
    const auto& zoomIn = itemFor(items, "cmd-zoomIn").keys;
    EXPECT_NE(std::find(zoomIn.begin(), zoomIn.end(), "<Control>plus"), zoomIn.end());
    EXPECT_NE(std::find(zoomIn.begin(), zoomIn.end(), "<Control>equal"), zoomIn.end());
    EXPECT_EQ(itemFor(items, "confidence-monitor").keys, (std::vector<std::string>{"<Control><Shift>m"}));
    EXPECT_EQ(itemFor(items, "cmd-go").keys, std::vector<std::string>{});
    EXPECT_EQ(itemFor(items, "cmd-revealSidecar").label, "Show Script in Files");
}

TEST(MenuCommand, SplitsOnceAtTheFirstColon) {
    EXPECT_EQ(menuCommandPayload("go"), (Json{{"command", "go"}}));
    EXPECT_EQ(menuCommandPayload("theme:deep"), (Json{{"command", "theme"}, {"value", "deep"}}));
    EXPECT_EQ(menuCommandPayload("a:b:c"), (Json{{"command", "a"}, {"value", "b:c"}}));
    EXPECT_EQ(menuCommandPayload("page:"), (Json{{"command", "page"}, {"value", ""}}));
}

}  // namespace
}  // namespace tallowmark
