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

Json stateScalars(const CueEngine& engine) {
    const CueSidecar& s = engine.sidecar();
    Json fired = Json::array();
    for (const std::string& id : engine.fired()) fired.push_back(id);
    Json savedRun = Json::object();
    if (auto offer = engine.resumeOffer()) {
        savedRun = {{"count", offer->firedCount},
                    {"total", offer->total},
                    {"standbyID", offer->standby.id},
                    {"number", offer->standby.number},
                    {"label", offer->standby.label}};
    }
    return {{"standbyID", engine.standbyID().value_or("")},
            {"lastFiredID", engine.lastFiredID().value_or("")},
            {"fired", std::move(fired)},
            {"pageLabelOffset", s.pageLabelOffset},
            {"spreadOffset", s.spreadOffset},
            {"savedRun", std::move(savedRun)},
            {"canUndo", engine.undoDepth() > 0},
            {"canRedo", engine.redoDepth() > 0},
            {"sidecarPath", pathToJson(engine.sidecarURL() ? engine.sidecarURL()->string() : std::string())}};
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
        "pagesPerSpread", m.pagesPerSpread)("sidebarVisible", m.sidebarVisible)("maxText", m.maxText);
    return m;
}

namespace BridgeEvents {

std::optional<std::string> eventScript(const std::string& name, const Json& payload) {
    const Json envelope = {{"name", name}, {"payload", payload}};
    if (!allFinite(envelope)) {
        logSystem("BridgeEvents.emit - failed to encode event '" + name + "'");
        return std::nullopt;
    }
    return eventScriptFromText(name, dumpJson(payload, -1));
}

std::string eventScriptFromText(const std::string& name, const std::string& payloadText) {
    // The envelope {"name":..,"payload":..} as the JSON library writes it (keys
    // sorted), then as a JavaScript string literal: a JSON string.
    const std::string envelope = "{\"name\":" + dumpJson(Json(name), -1) + ",\"payload\":" + payloadText + "}";
    return "window.__tallowmarkEvent && (function(){\n  var e = JSON.parse(" + dumpJson(Json(envelope), -1) +
           ");\n  window.__tallowmarkEvent(e.name, e.payload);\n})();";
}

void emitScript(const std::vector<std::weak_ptr<EventTransport>>& targets, std::string script) {
    auto shared = std::make_shared<const std::string>(std::move(script));
    for (const auto& target : targets) {
        postToMain([target, shared] {
            if (auto view = target.lock()) view->evaluateScript(*shared);
        });
    }
}

void emit(const std::weak_ptr<EventTransport>& target, const std::string& name, const Json& payload) {
    auto script = eventScript(name, payload);
    if (!script) return;
    postToMain([target, script = std::move(*script)] {
        if (auto view = target.lock()) view->evaluateScript(script);
    });
}

}  // namespace BridgeEvents

}  // namespace tallowmark
