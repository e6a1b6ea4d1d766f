#include "bridge/state_encoder.hpp"

namespace tallowmark {

template <class T>
const std::string& StateEncoder::CachedList<T>::update(const std::vector<T>& items) {
    // Comparing the records costs far less than encoding them again.
    if (valid && items == source) return text;
    Json list = Json::array();
    for (const T& item : items) list.push_back(toJson(item));
    finite = allFinite(list);
    text = dumpJson(list, -1);
    source = items;
    valid = true;
    return text;
}

std::optional<std::string> StateEncoder::encode(const CueEngine& engine) {
    const CueSidecar& s = engine.sidecar();
    // Each key's encoded value; a std::map keeps the keys in the order the
    // JSON library writes them, so the joined text is the library's own.
    std::map<std::string, const std::string*> pieces;
    std::vector<std::string> scalarTexts;
    const Json scalars = stateScalars(engine);
    if (!allFinite(scalars)) return std::nullopt;
    scalarTexts.reserve(scalars.size());
    for (auto it = scalars.begin(); it != scalars.end(); ++it) {
        scalarTexts.push_back(dumpJson(it.value(), -1));
        pieces[it.key()] = &scalarTexts.back();
    }
    pieces["cues"] = &cues_.update(engine.ordered());
    pieces["marks"] = &marks_.update(s.marks);
    pieces["flags"] = &flags_.update(s.flags);
    pieces["memos"] = &memos_.update(s.memos);
    pieces["inserts"] = &inserts_.update(s.inserts);
    if (!cues_.finite || !marks_.finite || !flags_.finite || !memos_.finite || !inserts_.finite)
        return std::nullopt;
    if (!pageTextsValid_ || pageTextsSource_ != s.pageTexts) {
        pageTextsText_ = dumpJson(Json(s.pageTexts), -1);
        pageTextsSource_ = s.pageTexts;
        pageTextsValid_ = true;
    }
    pieces["pageTexts"] = &pageTextsText_;

    std::size_t size = 2;
    for (const auto& [key, text] : pieces) size += key.size() + text->size() + 4;
    std::string out;
    out.reserve(size);
    out += '{';
    for (const auto& [key, text] : pieces) {
        if (out.size() > 1) out += ',';
        out += dumpJson(Json(key), -1);
        out += ':';
        out += *text;
    }
    out += '}';
    return out;
}

}  // namespace tallowmark
