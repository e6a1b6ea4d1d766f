#pragma once

// Tolerant reading of the records the system stores as JSON (marks, run
// position, settings): a missing key or null keeps the field's default, a value
// of another JSON type fails the whole record, an integer is accepted where a
// real belongs, and a number with a fraction where an integer belongs fails.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

namespace tallowmark {

using Json = nlohmann::json;

// Parses JSON text without throwing. None for text that is not well-formed JSON
// (invalid UTF-8 included) or whose arrays and objects nest more than
// `maxDepth` levels deep. The cost is linear in the length of the text.
std::optional<Json> parseJson(std::string_view text, int maxDepth = 256);

// Encodes with sorted keys (the default object of nlohmann::json is ordered);
// `indent` < 0 gives the compact form. Invalid UTF-8 in texts is replaced
// rather than aborting the write.
std::string dumpJson(const Json& value, int indent);

// True when no real anywhere in the value is NaN or infinite: such a value has
// no JSON form and must not be written.
bool allFinite(const Json& value);

bool readValue(const Json& value, bool& out);
bool readValue(const Json& value, std::int64_t& out);
bool readValue(const Json& value, double& out);
bool readValue(const Json& value, std::string& out);
bool readValue(const Json& value, std::map<std::string, std::string>& out);

// File paths and names are bytes, which JSON text (UTF-8) cannot always hold:
// dumpJson would replace the bytes of a Latin-1 name and the stored path would
// no longer name the file. A path that is valid UTF-8 is stored as it is. Any
// other is stored as a NUL character and then the path with '%' and every byte
// outside valid UTF-8 written as %XX. No path holds a NUL, so the escaped form
// never meets a real one.
Json pathToJson(std::string_view bytes);
// The bytes of a stored path; false for a non-text or a malformed escaped form.
bool readPath(const Json& value, std::string& out);
Json pathListToJson(const std::vector<std::string>& paths);
bool readPathList(const Json& value, std::vector<std::string>& out);

template <class T>
bool readValue(const Json& value, std::vector<T>& out) {
    if (!value.is_array()) return false;
    std::vector<T> items;
    items.reserve(value.size());
    for (const Json& element : value) {
        T item{};
        if (!readValue(element, item)) return false;
        items.push_back(std::move(item));
    }
    out = std::move(items);
    return true;
}

// Reads the fields of one JSON object into a record that already holds its
// defaults. The first failure sticks; later fields are then skipped.
class FieldReader {
public:
    explicit FieldReader(const Json& object) : object_(object), ok_(object.is_object()) {}

    template <class T>
    FieldReader& field(const char* key, T& out) {
        return field(key, out, [](const Json& value, T& into) { return readValue(value, into); });
    }

    // With a reader of its own, for values whose JSON form differs from the
    // plain one of their type (paths).
    template <class T, class Read>
    FieldReader& field(const char* key, T& out, Read read) {
        if (!ok_) return *this;
        auto it = object_.find(key);
        if (it == object_.end() || it->is_null()) return *this;
        T value = out;
        if (read(*it, value)) {
            out = std::move(value);
        } else {
            ok_ = false;
        }
        return *this;
    }

    // For keys without a default: missing or null fails the record.
    template <class T>
    FieldReader& required(const char* key, T& out) {
        if (ok_ && !present(key)) ok_ = false;
        return field(key, out);
    }

    // Present and not null.
    bool present(const char* key) const {
        auto it = object_.find(key);
        return it != object_.end() && !it->is_null();
    }

    bool ok() const { return ok_; }

private:
    const Json& object_;
    bool ok_;
};

// One field of a record: its JSON key and the member that holds it. A record
// lists its fields once, as RecordFields<R>::list (a tuple of these), and its
// readers and writer follow from that list: a new field is its member and one
// entry there.
template <class R, class T>
struct FieldKey {
    const char* key;
    T R::*member;
};

template <class R, class T>
FieldKey(const char*, T R::*) -> FieldKey<R, T>;

template <class R>
struct RecordFields;

// Calls visit(field) for each listed field of R, in the listed order.
template <class R, class Visit>
void forEachField(Visit&& visit) {
    std::apply([&](const auto&... field) { (visit(field), ...); }, RecordFields<R>::list);
}

// The whole-record reading of FieldReader over every listed field.
template <class R>
bool readFields(const Json& value, R& out) {
    FieldReader reader(value);
    forEachField<R>([&](const auto& field) { reader.field(field.key, out.*field.member); });
    return reader.ok();
}

// An object with every listed field, defaults included.
template <class R>
Json fieldsToJson(const R& record) {
    Json object = Json::object();
    forEachField<R>([&](const auto& field) { object[field.key] = record.*field.member; });
    return object;
}

// Parses text and reads one record of type T from it; none when either fails.
template <class T>
std::optional<T> decodeRecord(std::string_view text) {
    auto json = parseJson(text);
    if (!json) return std::nullopt;
    T record{};
    if (!readValue(*json, record)) return std::nullopt;
    return record;
}

}  // namespace tallowmark
