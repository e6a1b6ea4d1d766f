// The calls for settings, remote-control status and log, the menu state the
// page reports and its log lines.

#include "bridge/bridge_calls.hpp"
#include "bridge/native_bridge.hpp"
#include "core/system_log.hpp"
#include "document/document_store.hpp"
#include "settings/settings_rules.hpp"

namespace tallowmark {

namespace {

// Saves the page's changes and brings along what depends on them: the open
// script read again without page numbers, the window and title bar for
// maximised text, the OSC listener on its new port.
void applySettings(NativeBridge& b, const Json& dict) {
    SettingsStore& store = b.settings();
    const Settings before = store.settings();
    const Settings after = applyPageSettings(before, dict);
    if (after.dropPageNumbers != before.dropPageNumbers) {
        if (auto info = b.script().store().setDropPageNumbers(after.dropPageNumbers))
            b.documentChanged(documentDictionary(b.script(), *info));
    }
    store.setSettings(after);
    if (after.maxText != before.maxText) {
        if (auto shell = b.shell()) shell->maxTextChanged(after.maxText);
    }
    if (after.oscPort != before.oscPort || after.oscEnabled != before.oscEnabled ||
        after.oscLocalOnly != before.oscLocalOnly || after.oscDeskHosts != before.oscDeskHosts)
        b.hub().restartOSC();
    if (after.oscFeedback != before.oscFeedback) b.script().feedback().setDestinations(after.oscFeedback);
    // Screens follow to the new port once they are given its address.
    if (after.followPort != before.followPort && after.followSharing) b.share().setSharing(true);
}

// The page's settings, with the recognition languages this machine has, for
// the sheet to choose from; English first, as the default reads them.
Json pageSettings(const Settings& settings) {
    Json dict = settingsDictionary(settings);
    const std::vector<std::string> installed = DocumentStore::installedLanguages();
    dict["ocrInstalled"] = installed.empty() ? Json::array() : Json(installed);
    return dict;
}

void getState(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) { r.answer(stateDictionary(b.engine())); }

void getSettings(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    r.answer(pageSettings(b.settings().settings()));
}

void setSettings(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    const Json* dict = a.dict(0);
    if (!dict) return r.answer(false);
    applySettings(b, *dict);
    r.answer(pageSettings(b.settings().settings()));
}

void getControlStatus(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) { r.answer(b.hub().status()); }

void getLog(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    Json entries = Json::array();
    for (const LogEntry& entry : b.hub().log()) entries.push_back(toJson(entry));
    r.answer(entries);
}

void menuState(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    if (const Json* dict = a.dict(0)) {
        b.setMenuState(readMenuState(*dict, b.settings().settings()));
        // Also when unchanged: the page reports after every open, and the
        // recent scripts in the menu follow the settings then.
        if (b.onMenuStateChange) b.onMenuStateChange();
    }
    r.answer(true);
}

void debugLog(NativeBridge&, const BridgeArguments& a, ReplyHandle& r) {
    logSystemLine("TALLOWMARK JS: " + a.string(0).value_or(""));
    r.answer(true);
}

}  // namespace

void addSettingsCalls(CallRows& rows) {
    rows.insert(rows.end(), {{"getState", getState},
                             {"getSettings", getSettings},
                             {"setSettings", setSettings},
                             {"getControlStatus", getControlStatus},
                             {"getLog", getLog},
                             {"menuState", menuState},
                             {"debugLog", debugLog}});
}

}  // namespace tallowmark
