#pragma once

// The menu bar as a table, and which of its items are enabled and ticked for a
// given MenuState. No toolkit here: the GTK side turns the table into a GMenu
// with one GAction per item and asks validateMenuItem() whenever the state moves.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/bridge_records.hpp"
#include "core/json_helpers.hpp"

namespace tallowmark {

enum class MenuRole {
    command,  // sends `command` to the page as "menuCommand"
    // Items the shell carries out itself.
    about,
    checkForUpdates,
    help,
    reportIssue,
    confidenceMonitor,
    recentScripts,  // the "Open Recent" submenu, filled from the settings
    // Standard window and text actions: always enabled, like the platform's own.
    quit,
    cut,
    copy,
    paste,
    selectAll,
    minimize,
    zoom,
    closeWindow,
    bringAllToFront,
    fullScreen,
};

struct MenuItem {
    std::string label;
    MenuRole role = MenuRole::command;
    std::string command;            // for MenuRole::command, e.g. "theme:deep"
    std::vector<std::string> keys;  // GTK accelerator texts; the first one is shown
};

struct MenuSection {
    std::vector<MenuItem> items;
};

struct MenuDefinition {
    std::string title;
    std::vector<MenuSection> sections;
};

// The whole menu bar, menus in order, items in order within their sections.
std::vector<MenuDefinition> mainMenu(std::string_view appName);

// The GAction name (without "app.") of an item: "cmd-" + the command with ":"
// turned into "-" for page commands, a fixed name for the others. Unique over
// the table except that both "Zoom In" keys share one item.
std::string actionName(const MenuItem& item);

// What the shell knows besides the page's MenuState.
struct MenuContext {
    bool webViewExists = false;
    bool monitorOpen = false;
};

struct MenuItemState {
    bool enabled = true;
    // Set for the items that carry a tick; none for plain items.
    std::optional<bool> checked;
    bool operator==(const MenuItemState&) const = default;
};

MenuItemState validateMenuItem(const MenuItem& item, const MenuState& state, const MenuContext& context);
// The rule for one page command (also those not in the table, like "importCues").
MenuItemState validateCommand(std::string_view command, const MenuState& state);

// "Clear Menu" is there to empty a list that has something in it.
bool clearRecentsEnabled(const std::vector<std::string>& recentDocuments);

// The payload of the "menuCommand" event for an item's command string: split
// once at the first ":" into command and value.
Json menuCommandPayload(std::string_view commandString);

}  // namespace tallowmark
