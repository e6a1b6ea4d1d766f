#pragma once

// The shapes in which state crosses the bridge: the marks records both ways,
// the state snapshot, the menu state the page reports, and the event script.

#include <cstdint>
#include <memory>
#include <string>

#include "bridge/bridge_interfaces.hpp"
#include "bridge/event_channel.hpp"
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
// GO changes. "seq" is the engine's change count, so the page can tell an old
// state from a newer run change.
Json stateScalars(const CueEngine& engine);
// What the page needs of one run change: read right after the change, while
// the engine's fired set is the one the change left.
RunDelta runDelta(const CueEngine& engine, const CueEngine::RunChange& change);

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
    bool locked = false;  // the show is locked against editing

    bool operator==(const MenuState&) const = default;
};

// What the menus show before the page has reported anything.
MenuState initialMenuState(const Settings& settings);
// The page's report, read whole: an omitted key takes its default, not the old value.
MenuState readMenuState(const Json& dict, const Settings& settings);

namespace BridgeEvents {

// The body of the one function that hands a batch of events (its argument
// `batch`, a JSON array of {"name", "payload"} as text) to the page's hook
// window.__tallowmarkEvent(name, payload). The same text every time.
extern const char* const hookBody;

// The payload as compact JSON text; none (and a log line) when it has no JSON
// form (a real that is not finite).
std::optional<std::string> payloadText(const std::string& name, const Json& payload);

}  // namespace BridgeEvents

}  // namespace tallowmark
