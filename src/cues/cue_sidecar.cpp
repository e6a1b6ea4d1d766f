#include "cues/cue_sidecar.hpp"

#include <cmath>

namespace tallowmark {

namespace {

bool positionLess(double a, double b) {
    if (std::isnan(a)) return false;
    if (std::isnan(b)) return true;
    return a < b;
}

}  // namespace

bool inScriptOrder(const Cue& a, const Cue& b) {
    if (a.page != b.page) return a.page < b.page;
    if (positionLess(a.y, b.y) || positionLess(b.y, a.y)) return positionLess(a.y, b.y);
    return positionLess(a.x, b.x);
}

bool readValue(const Json& value, Cue& out) {
    return FieldReader(value)
        .field("id", out.id)
        .field("number", out.number)
        .field("label", out.label)
        .field("kind", out.kind)
        .field("page", out.page)
        .field("x", out.x)
        .field("y", out.y)
        .field("w", out.w)
        .field("h", out.h)
        .field("labelX", out.labelX)
        .field("color", out.color)
        .field("snippet", out.snippet)
        .field("note", out.note)
        .field("padL", out.padL)
        .field("padR", out.padR)
        .field("insertID", out.insertID)
        .ok();
}

bool readValue(const Json& value, Mark& out) {
    return FieldReader(value)
        .field("id", out.id)
        .field("page", out.page)
        .field("x", out.x)
        .field("y", out.y)
        .field("w", out.w)
        .field("h", out.h)
        .field("kind", out.kind)
        .field("text", out.text)
        .field("color", out.color)
        .field("group", out.group)
        .ok();
}

bool readValue(const Json& value, Flag& out) {
    return FieldReader(value)
        .field("id", out.id)
        .field("page", out.page)
        .field("x", out.x)
        .field("y", out.y)
        .field("text", out.text)
        .field("color", out.color)
        .field("role", out.role)
        .ok();
}

bool readValue(const Json& value, Memo& out) {
    return FieldReader(value)
        .field("id", out.id)
        .field("page", out.page)
        .field("x", out.x)
        .field("y", out.y)
        .field("w", out.w)
        .field("h", out.h)
        .field("text", out.text)
        .field("color", out.color)
        .ok();
}

bool readValue(const Json& value, Insert& out) {
    return FieldReader(value)
        .field("id", out.id)
        .field("page", out.page)
        .field("afterY", out.afterY)
        .field("lineMidY", out.lineMidY)
        .field("lineH", out.lineH)
        .field("x", out.x)
        .field("text", out.text)
        .ok();
}

bool readValue(const Json& value, CueSidecar& out) {
    return FieldReader(value)
        .field("version", out.version)
        .field("documentName", out.documentName, readPath)
        .field("cues", out.cues)
        .field("marks", out.marks)
        .field("flags", out.flags)
        .field("memos", out.memos)
        .field("inserts", out.inserts)
        .field("pageTexts", out.pageTexts)
        .field("pageLabelOffset", out.pageLabelOffset)
        .field("crop", out.crop)
        .field("spreadOffset", out.spreadOffset)
        .ok();
}

Json toJson(const Cue& c) {
    return {{"id", c.id},         {"number", c.number}, {"label", c.label},   {"kind", c.kind},
            {"page", c.page},     {"x", c.x},           {"y", c.y},           {"w", c.w},
            {"h", c.h},           {"labelX", c.labelX}, {"color", c.color},   {"snippet", c.snippet},
            {"note", c.note},     {"padL", c.padL},     {"padR", c.padR},     {"insertID", c.insertID}};
}

Json toJson(const Mark& m) {
    return {{"id", m.id}, {"page", m.page}, {"x", m.x},       {"y", m.y},         {"w", m.w},
            {"h", m.h},   {"kind", m.kind}, {"text", m.text}, {"color", m.color}, {"group", m.group}};
}

Json toJson(const Flag& f) {
    return {{"id", f.id},     {"page", f.page},   {"x", f.x},      {"y", f.y},
            {"text", f.text}, {"color", f.color}, {"role", f.role}};
}

Json toJson(const Memo& m) {
    return {{"id", m.id}, {"page", m.page}, {"x", m.x},       {"y", m.y},
            {"w", m.w},   {"h", m.h},       {"text", m.text}, {"color", m.color}};
}

Json toJson(const Insert& i) {
    return {{"id", i.id}, {"page", i.page}, {"afterY", i.afterY}, {"lineMidY", i.lineMidY},
            {"lineH", i.lineH}, {"x", i.x}, {"text", i.text}};
}

namespace {

template <class T>
Json listToJson(const std::vector<T>& items) {
    Json list = Json::array();
    for (const T& item : items) list.push_back(toJson(item));
    return list;
}

}  // namespace

Json toJson(const CueSidecar& s) {
    Json crop = Json::array();
    for (double v : s.crop) crop.push_back(v);
    return {{"version", s.version},
            {"documentName", pathToJson(s.documentName)},
            {"cues", listToJson(s.cues)},
            {"marks", listToJson(s.marks)},
            {"flags", listToJson(s.flags)},
            {"memos", listToJson(s.memos)},
            {"inserts", listToJson(s.inserts)},
            {"pageTexts", Json(s.pageTexts)},
            {"pageLabelOffset", s.pageLabelOffset},
            {"crop", crop},
            {"spreadOffset", s.spreadOffset}};
}

std::optional<CueSidecar> decodeSidecar(std::string_view text) { return decodeRecord<CueSidecar>(text); }

std::optional<std::string> encodeSidecar(const CueSidecar& sidecar) {
    Json json = toJson(sidecar);
    if (!allFinite(json)) return std::nullopt;
    return dumpJson(json, 2);
}

std::filesystem::path sidecarPathFor(const std::filesystem::path& pdfPath) {
    std::filesystem::path path = pdfPath;
    return path.replace_extension("tallowmark");
}

}  // namespace tallowmark
