#include "bridge/bridge_records.hpp"

#include <cmath>

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

template <class T>
Json encodeList(const std::vector<T>& items) {
    Json list = Json::array();
    for (const T& item : items) list.push_back(toJson(item));
    return list;
}

}  // namespace

// The page uses the marks file's field names, so the file's encoders serve.
Json encodeCue(const Cue& cue) { return toJson(cue); }
Json encodeMark(const Mark& mark) { return toJson(mark); }
Json encodeFlag(const Flag& flag) { return toJson(flag); }
Json encodeMemo(const Memo& memo) { return toJson(memo); }
Json encodeInsert(const Insert& insert) { return toJson(insert); }

Cue decodeCue(const Json& dict) {
    Cue c;
    Loose{dict}
        .id(c.id)("number", c.number)("label", c.label)("kind", c.kind)("color", c.color)("snippet", c.snippet)(
            "note", c.note)("insertID", c.insertID)("page", c.page)("x", c.x)("y", c.y)("w", c.w)("h", c.h)(
            "labelX", c.labelX)("padL", c.padL)("padR", c.padR);
    return c;
}

Mark decodeMark(const Json& dict) {
    Mark m;
    Loose{dict}.id(m.id)("kind", m.kind)("text", m.text)("color", m.color)("group", m.group)("page", m.page)(
        "x", m.x)("y", m.y)("w", m.w)("h", m.h);
    return m;
}

Flag decodeFlag(const Json& dict) {
    Flag f;
    Loose{dict}.id(f.id)("text", f.text)("color", f.color)("role", f.role)("page", f.page)("x", f.x)("y", f.y);
    return f;
}

Memo decodeMemo(const Json& dict) {
    Memo m;
    Loose{dict}.id(m.id)("text", m.text)("color", m.color)("page", m.page)("x", m.x)("y", m.y)("w", m.w)("h", m.h);
    return m;
}

Insert decodeInsert(const Json& dict) {
    Insert i;
    Loose{dict}.id(i.id)("text", i.text)("page", i.page)("afterY", i.afterY)("lineMidY", i.lineMidY)(
        "lineH", i.lineH)("x", i.x);
    return i;
}

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
    state["cues"] = encodeList(engine.ordered());
    state["marks"] = encodeList(s.marks);
    state["flags"] = encodeList(s.flags);
    state["memos"] = encodeList(s.memos);
    state["inserts"] = encodeList(s.inserts);
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
