#include "bridge/bridge_records.hpp"

#include <cmath>
#include <string_view>

#include "core/main_queue.hpp"
#include "core/system_log.hpp"

namespace tallowmark {

namespace {

// Tolerant per-key reading: unlike the marks file, a bad key spoils only itself.
class Loose {
public:
    explicit Loose(const Json& dict) : dict_(dict.is_object() ? &dict : nullptr) {}

    template <class T>
    Loose& operator()(const char* key, T& out) {
        const Json* v = find(key);
        if (!v) return *this;
        T value{};
        if (!readValue(*v, value)) return *this;
        if constexpr (std::is_same_v<T, double>) {
            if (!std::isfinite(value)) return *this;
        }
        out = std::move(value);
        return *this;
    }

    Loose& id(std::string& out) {
        const Json* v = find("id");
        if (v && v->is_string() && !v->get_ref<const std::string&>().empty()) out = v->get<std::string>();
        return *this;
    }

private:
    const Json* find(const char* key) const {
        if (!dict_) return nullptr;
        auto it = dict_->find(key);
        return it == dict_->end() ? nullptr : &*it;
    }
    const Json* dict_;
};

// Every listed field read on its own; an id must also be a non-empty text.
template <class R>
R decodeLoose(const Json& dict) {
    R record;
    Loose loose{dict};
    loose.id(record.id);
    forEachField<R>([&](const auto& field) {
        if (std::string_view(field.key) != "id") loose(field.key, record.*field.member);
    });
    return record;
}

}  // namespace

Cue decodeCue(const Json& dict) { return decodeLoose<Cue>(dict); }
Mark decodeMark(const Json& dict) { return decodeLoose<Mark>(dict); }
Flag decodeFlag(const Json& dict) { return decodeLoose<Flag>(dict); }
Memo decodeMemo(const Json& dict) { return decodeLoose<Memo>(dict); }
Insert decodeInsert(const Json& dict) { return decodeLoose<Insert>(dict); }

namespace {

Json savedRunDictionary(const CueEngine& engine) {
    Json savedRun = Json::object();
    if (auto offer = engine.resumeOffer()) {
        savedRun = {{"count", offer->firedCount},
                    {"total", offer->total},
                    {"standbyID", offer->standby.id},
                    {"number", offer->standby.number},
                    {"label", offer->standby.label}};
    }
    return savedRun;
}

}  // namespace

Json stateScalars(const CueEngine& engine) {
    const CueSidecar& s = engine.sidecar();
    Json fired = Json::array();
    for (const std::string& id : engine.fired()) fired.push_back(id);
    return {{"standbyID", engine.standbyID().value_or("")},
            {"lastFiredID", engine.lastFiredID().value_or("")},
            {"fired", std::move(fired)},
            {"pageLabelOffset", s.pageLabelOffset},
            {"spreadOffset", s.spreadOffset},
            {"savedRun", savedRunDictionary(engine)},
            {"canUndo", engine.undoDepth() > 0},
            {"canRedo", engine.redoDepth() > 0},
            {"seq", engine.changeCount()},
            {"sidecarPath", pathToJson(engine.sidecarURL() ? engine.sidecarURL()->string() : std::string())}};
}

RunDelta runDelta(const CueEngine& engine, const CueEngine::RunChange& change) {
    RunDelta delta;
    delta.from = change.from;
    delta.seq = change.seq;
    delta.clear = change.clear;
    const CueEngine::IdSet& fired = engine.fired();
    // After a clear every fired cue counts as touched: the page starts from empty.
    const CueEngine::IdSet& touched = change.clear ? fired : change.touched;
    for (const std::string& id : touched) (fired.contains(id) ? delta.fired : delta.unfired).insert(id);
    std::int64_t live = 0;
    for (const std::string& id : fired) live += engine.isCue(id) ? 1 : 0;
    delta.scalars = {{"standbyID", engine.standbyID().value_or("")},
                     {"lastFiredID", engine.lastFiredID().value_or("")},
                     {"firedCount", live},
                     {"total", static_cast<std::int64_t>(engine.ordered().size())},
                     {"savedRun", savedRunDictionary(engine)}};
    return delta;
}

Json stateDictionary(const CueEngine& engine) {
    const CueSidecar& s = engine.sidecar();
    Json state = stateScalars(engine);
    state["cues"] = listToJson(engine.ordered());
    state["marks"] = listToJson(s.marks);
    state["flags"] = listToJson(s.flags);
    state["memos"] = listToJson(s.memos);
    state["inserts"] = listToJson(s.inserts);
    state["pageTexts"] = s.pageTexts;
    return state;
}

MenuState initialMenuState(const Settings& settings) {
    MenuState m;
    m.dimmed = settings.dimmed;
    m.memosVisible = settings.memosVisible;
    m.theme = settings.themeName;
    m.pagesPerSpread = settings.pagesPerSpread;
    return m;
}

MenuState readMenuState(const Json& dict, const Settings& settings) {
    MenuState m;
    m.theme = settings.themeName;
    Loose{dict}("hasDoc", m.hasDoc)("hasSelection", m.hasSelection)("cueMode", m.cueMode)(
        "spreadOffset", m.spreadOffset)("dimmed", m.dimmed)("memosVisible", m.memosVisible)("theme", m.theme)(
        "pagesPerSpread", m.pagesPerSpread)("sidebarVisible", m.sidebarVisible)("maxText", m.maxText)("locked", m.locked);
    return m;
}

namespace BridgeEvents {

// Defensive about the page: a page without its hook yet drops the events, and
// one handler that throws does not cost the events after it.
const char* const hookBody =
    "var list = JSON.parse(batch);\n"
    "var hook = window.__tallowmarkEvent;\n"
    "if (typeof hook !== 'function') return 0;\n"
    "for (var i = 0; i < list.length; i++) {\n"
    "  try { hook(list[i].name, list[i].payload); } catch (e) { console.error(e); }\n"
    "}\n"
    "return list.length;";

std::optional<std::string> payloadText(const std::string& name, const Json& payload) {
    if (!allFinite(payload)) {
        logSystem("BridgeEvents.emit - failed to encode event '" + name + "'");
        return std::nullopt;
    }
    return dumpJson(payload, -1);
}

}  // namespace BridgeEvents

}  // namespace tallowmark
