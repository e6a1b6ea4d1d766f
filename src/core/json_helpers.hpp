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
#include <type_traits>
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
        return require(key).field(key, out);
    }

    FieldReader& require(const char* key) {
        if (ok_ && !present(key)) ok_ = false;
        return *this;
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

// The JSON form of a value: a record's own toJson() when it has one, a list
// element by element, anything else as nlohmann encodes it.
template <class T>
Json jsonOf(const T& value) {
    if constexpr (requires { toJson(value); }) {
        return toJson(value);
    } else {
        return Json(value);
    }
}

template <class T>
Json jsonOf(const std::vector<T>& items) {
    Json list = Json::array();
    for (const T& item : items) list.push_back(jsonOf(item));
    return list;
}

// An optional value is read as its value; absent or null leaves it as it was.
template <class T>
bool readValue(const Json& value, std::optional<T>& out) {
    T item{};
    if (!readValue(value, item)) return false;
    out = std::move(item);
    return true;
}

// How a listed field meets JSON. The plain form follows the value's type; a
// required field fails the record when missing or null.
struct PlainForm {
    static constexpr bool required = false;
    template <class T>
    static bool read(const Json& value, T& out) {
        return readValue(value, out);
    }
    template <class T>
    static Json write(const T& value) {
        return jsonOf(value);
    }
};

struct RequiredForm : PlainForm {
    static constexpr bool required = true;
};

// Byte paths (pathToJson, readPath) and lists of them.
struct PathForm {
    static constexpr bool required = false;
    static bool read(const Json& value, std::string& out) { return readPath(value, out); }
    static Json write(const std::string& value) { return pathToJson(value); }
};

struct PathListForm {
    static constexpr bool required = false;
    static bool read(const Json& value, std::vector<std::string>& out) { return readPathList(value, out); }
    static Json write(const std::vector<std::string>& value) { return pathListToJson(value); }
};

// One field of a record: its JSON key, the member that holds it and, when not
// the plain one, its form. A record lists its fields once, as
// RecordFields<R>::list (a tuple of these), and its readers and writer follow
// from that list: a new field is its member and one entry there.
template <class R, class T, class Form = PlainForm>
struct FieldKey {
    const char* key;
    T R::*member;
    Form form{};
};

template <class R, class T>
FieldKey(const char*, T R::*) -> FieldKey<R, T>;
template <class R, class T, class Form>
FieldKey(const char*, T R::*, Form) -> FieldKey<R, T, Form>;

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
    forEachField<R>([&](const auto& field) {
        using Form = decltype(field.form);
        if constexpr (Form::required) reader.require(field.key);
        reader.field(field.key, out.*field.member, [](const Json& json, auto& into) { return Form::read(json, into); });
    });
    return reader.ok();
}

template <class T>
inline constexpr bool isOptional = false;
template <class T>
inline constexpr bool isOptional<std::optional<T>> = true;

// An object with every listed field, defaults included; an optional field
// without a value is left out.
template <class R>
Json fieldsToJson(const R& record) {
    Json object = Json::object();
    forEachField<R>([&](const auto& field) {
        const auto& value = record.*field.member;
        if constexpr (isOptional<std::remove_cvref_t<decltype(value)>>) {
            if (value) object[field.key] = decltype(field.form)::write(*value);
        } else {
            object[field.key] = decltype(field.form)::write(value);
        }
    });
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
