#include "cues/cue_sidecar.hpp"

#include <array>
#include <cmath>

namespace tallowmark {

namespace {

constexpr std::array sidecarBounds{
    ListBound{"cues", maxRecordsPerList, PastBound::refuse},
    ListBound{"marks", maxRecordsPerList, PastBound::refuse},
    ListBound{"flags", maxRecordsPerList, PastBound::refuse},
    ListBound{"memos", maxRecordsPerList, PastBound::refuse},
    ListBound{"inserts", maxRecordsPerList, PastBound::refuse},
    ListBound{"pageTexts", maxRecordsPerList, PastBound::refuse},
    // Four numbers or none; bounded all the same, or a file of numbers could fill memory.
    ListBound{"crop", maxRecordsPerList, PastBound::refuse},
};

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

bool readValue(const Json& value, Cue& out) { return readFields(value, out); }
bool readValue(const Json& value, Mark& out) { return readFields(value, out); }
bool readValue(const Json& value, Flag& out) { return readFields(value, out); }
bool readValue(const Json& value, Memo& out) { return readFields(value, out); }
bool readValue(const Json& value, Insert& out) { return readFields(value, out); }
bool readValue(const Json& value, CueSidecar& out) { return readFields(value, out); }

Json toJson(const Cue& cue) { return fieldsToJson(cue); }
Json toJson(const Mark& mark) { return fieldsToJson(mark); }
Json toJson(const Flag& flag) { return fieldsToJson(flag); }
Json toJson(const Memo& memo) { return fieldsToJson(memo); }
Json toJson(const Insert& insert) { return fieldsToJson(insert); }
Json toJson(const CueSidecar& sidecar) { return fieldsToJson(sidecar); }

std::optional<CueSidecar> decodeSidecar(std::string_view text, FileNotes& notes) {
    return decodeFile<CueSidecar>(text, sidecarBounds, notes);
}

std::optional<CueSidecar> decodeSidecar(std::string_view text) {
    FileNotes notes;
    return decodeSidecar(text, notes);
}

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
