#pragma once

// The shapes in which state crosses the bridge: the marks records both ways,
// the state snapshot, the menu state the page reports, and the event script.

#include <cstdint>
#include <memory>
#include <string>

#include "bridge/bridge_interfaces.hpp"
#include "core/json_helpers.hpp"
#include "cues/cue_engine.hpp"
#include "settings/settings.hpp"

namespace tallowmark {

// The page uses the marks file's field names, so a record goes to the page as
// toJson (cues/cue_sidecar.hpp) writes it.

// Never fail: each missing or mistyped key keeps its default, a missing or
// empty id becomes a new UUID. "page" must be an integer; a number that is not
// finite counts as mistyped, since it could never be saved.
Cue decodeCue(const Json& dict);
Mark decodeMark(const Json& dict);
Flag decodeFlag(const Json& dict);
Memo decodeMemo(const Json& dict);
Insert decodeInsert(const Json& dict);

Json stateDictionary(const CueEngine& engine);
// The state dictionary without its lists of records and page texts: the part a
// GO changes.
Json stateScalars(const CueEngine& engine);

struct MenuState {
    bool hasDoc = false;
    bool hasSelection = false;
    bool cueMode = false;
    std::int64_t spreadOffset = 0;
    bool dimmed = false;
    bool memosVisible = true;
    std::string theme;
    std::int64_t pagesPerSpread = 2;
    bool sidebarVisible = true;
    bool maxText = false;

    bool operator==(const MenuState&) const = default;
};

// What the menus show before the page has reported anything.
MenuState initialMenuState(const Settings& settings);
// The page's report, read whole: an omitted key takes its default, not the old value.
MenuState readMenuState(const Json& dict, const Settings& settings);

namespace BridgeEvents {

// The script that hands one event to the page's hook; none (and a log line)
// when the payload has no JSON form.
std::optional<std::string> eventScript(const std::string& name, const Json& payload);
// The same for a payload already encoded as compact JSON text.
std::string eventScriptFromText(const std::string& name, const std::string& payloadText);

// Builds the script here and evaluates it in a later turn of the main queue,
// so an event raised during a call reaches the page after the call's reply.
void emit(const std::weak_ptr<EventTransport>& target, const std::string& name, const Json& payload);
// One script, built once, for every target (the main view and the monitor).
void emitScript(const std::vector<std::weak_ptr<EventTransport>>& targets, std::string script);

}  // namespace BridgeEvents

}  // namespace tallowmark
