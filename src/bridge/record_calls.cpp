// The calls that edit the marks: cues, marks, flags, memos and inserts, the
// page texts and offsets, undo and redo. Each change reaches the page as
// "cueState" from the engine.

#include "bridge/bridge_calls.hpp"
#include "bridge/native_bridge.hpp"

namespace tallowmark {

namespace {

// The records the page adds, changes and removes one at a time, each kind
// through the same two rows.
struct RecordKind {
    const char* upsert;
    const char* remove;
    // What an upsert without a dictionary answers; the page has always been
    // told false for the first three kinds and null for the others.
    Json missing;
    // Decodes the dictionary, stores the record and gives its id.
    std::string (*store)(CueEngine& engine, const Json& dict);
    void (*drop)(CueEngine& engine, const std::string& id);
};

template <class R, R (*decode)(const Json&)>
std::string storeOne(CueEngine& engine, const Json& dict) {
    const R record = decode(dict);
    engine.upsert(record);
    return record.id;
}

// Cues and marks also come as lists: a list with anything but dictionaries in
// it stores nothing.
template <class R, R (*decode)(const Json&)>
void upsertList(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    std::vector<R> records;
    Json ids = Json::array();
    if (auto list = listOf(a.first(), [](const Json& v) { return v.is_object(); })) {
        for (const Json& dict : *list) {
            records.push_back(decode(dict));
            ids.push_back(records.back().id);
        }
    }
    if (!records.empty()) b.engine().upsert(records);
    r.answer(ids);
}

// The ids of a list of texts; none for anything else. An empty id names no
// record, and would cost an undo step and a save for nothing.
std::vector<std::string> idList(const Json& value) {
    std::vector<std::string> ids;
    if (auto list = listOf(value, [](const Json& v) { return v.is_string(); })) {
        for (const Json& v : *list) {
            if (!v.get_ref<const std::string&>().empty()) ids.push_back(v.get<std::string>());
        }
    }
    return ids;
}

void removeCues(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    b.engine().remove(idList(a.first()));
    r.answer(true);
}

void removeMarks(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    b.engine().removeMarks(idList(a.first()));
    r.answer(true);
}

void acceptCarried(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    b.engine().acceptCarried(idList(a.first()));
    r.answer(true);
}

void renumberCues(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    b.engine().renumberCues();
    r.answer(stateDictionary(b.engine()));
}

void standbyCue(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    if (auto id = a.string(0)) b.engine().standbyByID(*id);
    r.answer(true);
}

void setPageText(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    b.engine().setPageText(a.integer(0).value_or(0), a.string(1).value_or(""));
    r.answer(true);
}

void setPageLabelOffset(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    b.engine().setPageLabelOffset(a.integer(0).value_or(0));
    r.answer(true);
}

void setSpreadOffset(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    b.engine().setSpreadOffset(a.integer(0).value_or(0));
    r.answer(b.engine().sidecar().spreadOffset);
}

void undo(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    b.engine().undo();
    r.answer(stateDictionary(b.engine()));
}

void redo(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    b.engine().redo();
    r.answer(stateDictionary(b.engine()));
}

}  // namespace

void addRecordCalls(CallRows& rows) {
    const RecordKind kinds[] = {
        {"upsertCue", "removeCue", false, storeOne<Cue, decodeCue>,
         [](CueEngine& e, const std::string& id) { e.remove(id); }},
        {"upsertMark", "removeMark", false, storeOne<Mark, decodeMark>,
         [](CueEngine& e, const std::string& id) { e.removeMark(id); }},
        {"upsertFlag", "removeFlag", false, storeOne<Flag, decodeFlag>,
         [](CueEngine& e, const std::string& id) { e.removeFlag(id); }},
        {"upsertMemo", "removeMemo", nullptr, storeOne<Memo, decodeMemo>,
         [](CueEngine& e, const std::string& id) { e.removeMemo(id); }},
        {"upsertInsert", "removeInsert", nullptr, storeOne<Insert, decodeInsert>,
         [](CueEngine& e, const std::string& id) { e.removeInsert(id); }},
    };
    for (const RecordKind& kind : kinds) {
        rows.push_back({kind.upsert, [kind](NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
                            const Json* dict = a.dict(0);
                            if (!dict) return r.answer(kind.missing);
                            r.answer(kind.store(b.engine(), *dict));
                        }});
        // A missing or empty id names no record: nothing happens, and the
        // answer is true as for any removal.
        rows.push_back({kind.remove, [kind](NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
                            const std::optional<std::string> id = a.string(0);
                            if (id && !id->empty()) kind.drop(b.engine(), *id);
                            r.answer(true);
                        }});
    }
    rows.insert(rows.end(), {{"upsertCues", upsertList<Cue, decodeCue>},
                             {"removeCues", removeCues},
                             {"upsertMarks", upsertList<Mark, decodeMark>},
                             {"removeMarks", removeMarks},
                             {"acceptCarried", acceptCarried},
                             {"renumberCues", renumberCues},
                             {"standbyCue", standbyCue},
                             {"setPageText", setPageText},
                             {"setPageLabelOffset", setPageLabelOffset},
                             {"setSpreadOffset", setSpreadOffset},
                             {"undo", undo},
                             {"redo", redo}});
}

}  // namespace tallowmark
