#include "app/model/menu_model.hpp"

#include <algorithm>
#include <array>

namespace tallowmark {

namespace {

MenuItem cmd(std::string label, std::string command, std::vector<std::string> keys = {}) {
    return {std::move(label), MenuRole::command, std::move(command), std::move(keys)};
}

MenuItem role(std::string label, MenuRole r, std::vector<std::string> keys = {}) {
    return {std::move(label), r, {}, std::move(keys)};
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

// Ctrl stands for Command and Alt for Option. Where the original pair of
// Command and Control has no Linux counterpart (both become Ctrl), the desktop's
// usual key takes its place: F9 for the sidebar, F11 for full screen. Return
// and Backspace are left to the page, which ignores them in editable fields,
// and so are the text actions, which the web view's fields handle themselves.
std::vector<MenuDefinition> mainMenu(std::string_view appName) {
    const std::string app(appName);
    return {
        {app,
         {{{role("About " + app, MenuRole::about), role("Check for Updates\u2026", MenuRole::checkForUpdates)}},
          {{cmd("Settings\u2026", "settings", {"<Control>comma"})}},
          {{role("Quit " + app, MenuRole::quit, {"<Control>q"})}}}},
        {"File",
         {{{cmd("Open Script\u2026", "open", {"<Control>o"}), role("Open Recent", MenuRole::recentScripts)}},
          {{cmd("Close Script", "closeScript", {"<Control>w"})}},
          {{cmd("Save", "save", {"<Control>s"}), cmd("Save Script As\u2026", "saveAs", {"<Control><Shift>s"})}},
          {{cmd("Show Script in Files", "revealSidecar"),
            cmd("Take Marks from Another Version\u2026", "importCues"),
            cmd("Export Marked Script\u2026", "exportMarkedPDF", {"<Control><Shift>e"})}}}},
        {"Edit",
         {{{cmd("Undo", "undo", {"<Control>z"}), cmd("Redo", "redo", {"<Control><Shift>z"})}},
          {{role("Cut", MenuRole::cut), role("Copy", MenuRole::copy), role("Paste", MenuRole::paste),
            role("Select All", MenuRole::selectAll)}},
          {{cmd("Find\u2026", "find", {"<Control>f"})}},
          {{cmd("Delete Cue", "deleteCue"), cmd("Duplicate Cue", "duplicateCue", {"<Control>d"}),
            cmd("Cue Settings\u2026", "cueSettings", {"<Control>i"}), cmd("Renumber Cues", "renumber")}},
          {{cmd("Add Memo", "addMemo"), cmd("Add Flag", "addFlag"), cmd("Insert Line", "insertLine")}},
          // The page keeps the keys of these (Ctrl+Shift+P, Ctrl+Shift+C): a
          // menu accelerator takes the key before the page sees it.
          {{cmd("Page Note and Number\u2026", "pageNotes"), cmd("Crop Pages\u2026", "crop"),
            cmd("Reset to Automatic Crop", "resetCrop")}}}},
        {"View",
         {{{cmd("Booth", "theme:deep"), cmd("Studio", "theme:dark"), cmd("Daylight", "theme:light")}},
          {{cmd("One Page", "onePage", {"<Control>1"}), cmd("Two Pages", "twoPages", {"<Control>2"}),
            cmd("Shift Pairing", "shiftPairing")}},
          {{cmd("Zoom In", "zoomIn", {"<Control>plus", "<Control>equal", "<Control>KP_Add"}),
            cmd("Zoom Out", "zoomOut", {"<Control>minus", "<Control>KP_Subtract"}),
            cmd("Fit to Window", "zoomFit", {"<Control>0"}),
            // Ctrl+3 beside One Page and Two Pages; the text sizes share Ctrl+Alt
            // with Maximize Text.
            cmd("Fit Width", "fitWidth", {"<Control>3"}),
            cmd("Larger Text", "textLarger", {"<Control><Alt>plus", "<Control><Alt>equal", "<Control><Alt>KP_Add"}),
            cmd("Smaller Text", "textSmaller", {"<Control><Alt>minus", "<Control><Alt>KP_Subtract"}),
            cmd("Maximize Text", "maxText", {"<Control><Alt>0"})}},
          {{cmd("Next Page", "nextPage"), cmd("Previous Page", "prevPage"),
            cmd("Go to Page\u2026", "gotoPage", {"<Control>g"})}},
          {{cmd("Show Sidebar", "toggleSidebar", {"F9"}), cmd("Show Memos", "toggleMemos"),
            cmd("Dim Screen", "dim", {"<Control><Shift>d"}),
            role("Confidence Monitor", MenuRole::confidenceMonitor, {"<Control><Shift>m"})}},
          {{role("Enter Full Screen", MenuRole::fullScreen, {"F11"})}}}},
        {"Show",
         {{{cmd("GO", "go"), cmd("Back", "back"), cmd("Next Cue", "nextCue"), cmd("Previous Cue", "prevCue"),
            // Ctrl+Shift+R is the page's: it asks, and the same chord again
            // confirms. As an accelerator every key repeat would arrive as a
            // fresh command, and a held chord would confirm its own question.
            cmd("Reset Standby", "reset")}},
          {{cmd("Cue Mode", "cueMode", {"<Control>e"})}},
          // The page asks before it unlocks, so the key may be pressed in a hurry.
          {{cmd("Lock Show", "lockShow", {"<Control><Shift>l"}), cmd("Show Report\u2026", "showReport")}}}},
        {"Window",
         {{{role("Minimize", MenuRole::minimize, {"<Control>m"}), role("Zoom", MenuRole::zoom),
            role("Close Window", MenuRole::closeWindow, {"<Control><Shift>w"})}},
          {{role("Bring All to Front", MenuRole::bringAllToFront)}},
          {{cmd("Share to Screens\u2026", "shareScreens")}}}},
        {"Help",
         {{{role(app + " Help", MenuRole::help), cmd("Keyboard Shortcuts\u2026", "shortcuts"),
            role("Report an Issue\u2026", MenuRole::reportIssue)}}}},
    };
}

std::string actionName(const MenuItem& item) {
    switch (item.role) {
    case MenuRole::command: {
        std::string name = "cmd-" + item.command;
        std::replace(name.begin(), name.end(), ':', '-');
        return name;
    }
    case MenuRole::about: return "about";
    case MenuRole::checkForUpdates: return "check-updates";
    case MenuRole::help: return "help";
    case MenuRole::reportIssue: return "report-issue";
    case MenuRole::confidenceMonitor: return "confidence-monitor";
    case MenuRole::recentScripts: return "recent-scripts";
    case MenuRole::quit: return "quit";
    case MenuRole::cut: return "cut";
    case MenuRole::copy: return "copy";
    case MenuRole::paste: return "paste";
    case MenuRole::selectAll: return "select-all";
    case MenuRole::minimize: return "minimize";
    case MenuRole::zoom: return "zoom";
    case MenuRole::closeWindow: return "close-window";
    case MenuRole::bringAllToFront: return "bring-all-to-front";
    case MenuRole::fullScreen: return "full-screen";
    }
    return {};
}

MenuItemState validateCommand(std::string_view command, const MenuState& s) {
    MenuItemState out;
    if (startsWith(command, "theme:")) out.checked = command.substr(6) == s.theme;
    else if (command == "onePage") out.checked = s.pagesPerSpread == 1;
    else if (command == "twoPages") out.checked = s.pagesPerSpread != 1;
    else if (command == "toggleMemos") out.checked = s.memosVisible;
    else if (command == "toggleSidebar") out.checked = s.sidebarVisible;
    else if (command == "maxText") out.checked = s.maxText;
    else if (command == "dim") out.checked = s.dimmed;
    else if (command == "cueMode") out.checked = s.cueMode;
    else if (command == "shiftPairing") out.checked = s.spreadOffset == 1;
    else if (command == "lockShow") out.checked = s.locked;

    static constexpr std::array<std::string_view, 29> needDocument = {
        "cueMode",    "closeScript", "save",     "saveAs",    "importCues", "revealSidecar",
        "exportMarkedPDF", "zoomIn", "zoomOut",  "zoomFit",   "fitWidth",   "textLarger",
        "textSmaller", "nextPage",   "prevPage",
        "go",         "back",        "reset",    "nextCue",   "prevCue",    "renumber",
        "addMemo",    "addFlag",     "insertLine", "pageNotes", "crop",     "resetCrop", "lockShow",
        "showReport"};
    static constexpr std::array<std::string_view, 3> needSelection = {"deleteCue", "duplicateCue", "cueSettings"};
    // A locked show is read and run, never edited.
    static constexpr std::array<std::string_view, 14> editTheMarks = {
        "cueMode",   "importCues", "undo",      "redo",      "renumber",     "addMemo",    "addFlag",
        "insertLine", "pageNotes", "crop",      "resetCrop", "deleteCue",    "duplicateCue", "cueSettings"};
    if (s.locked && std::find(editTheMarks.begin(), editTheMarks.end(), command) != editTheMarks.end()) {
        out.enabled = false;
        return out;
    }
    if (command == "shiftPairing") out.enabled = s.hasDoc && s.pagesPerSpread != 1;
    else if (std::find(needDocument.begin(), needDocument.end(), command) != needDocument.end()) out.enabled = s.hasDoc;
    else if (std::find(needSelection.begin(), needSelection.end(), command) != needSelection.end())
        out.enabled = s.hasSelection;
    return out;
}

MenuItemState validateMenuItem(const MenuItem& item, const MenuState& state, const MenuContext& context) {
    switch (item.role) {
    case MenuRole::about:
    case MenuRole::checkForUpdates:
    case MenuRole::help:
    case MenuRole::reportIssue: return {true, std::nullopt};
    case MenuRole::command: {
        MenuItemState out = validateCommand(item.command, state);
        // Until the page exists nothing could carry a command out.
        if (!context.webViewExists) out.enabled = false;
        return out;
    }
    case MenuRole::confidenceMonitor: return {context.webViewExists, context.monitorOpen};
    case MenuRole::recentScripts: return {context.webViewExists, std::nullopt};
    default: return {true, std::nullopt};
    }
}

bool clearRecentsEnabled(const std::vector<std::string>& recentDocuments) { return !recentDocuments.empty(); }

Json menuCommandPayload(std::string_view commandString) {
    const auto colon = commandString.find(':');
    if (colon == std::string_view::npos) return {{"command", std::string(commandString)}};
    return {{"command", std::string(commandString.substr(0, colon))},
            {"value", std::string(commandString.substr(colon + 1))}};
}

}  // namespace tallowmark
