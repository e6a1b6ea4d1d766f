#pragma once

// Tolerant reading of the records the system stores as JSON (marks, run
// position, settings): a missing key or null keeps the field's default, a value
// of another JSON type fails the whole record, an integer is accepted where a
// real belongs, and a number with a fraction where an integer belongs fails.

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/text_repair.hpp"

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

// The field, if any, whose default is made afresh for every record (a random
// identifier). Reading a long list of records copies one default record for
// each and makes the fresh value only for a record that lacks the key: making
// it costs more than reading the rest of a record.
template <class R>
inline constexpr std::string_view freshField{};

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

// --- reading the files the system owns ---
//
// A file may be far larger than anything the system writes (a tester's
// million cues, a settings file grown by another program) or damaged (a
// stray byte). decodeFile reads it without ever holding more than its bounds
// allow: the lists of records are decoded record by record straight from the
// parser's events, never as a JSON tree of the whole file, and a list past a
// refusing bound stops the reading at once.

enum class PastBound {
    refuse,  // the whole file is refused as soon as the list is seen to be longer
    drop,    // the first `max` elements are kept and the rest dropped, mostly unread (decodeFile)
};

// A bound on the list under one key of a file's top-level record. An object
// there has its members counted, and any bound on it refuses.
struct ListBound {
    std::string_view key;
    std::size_t max;
    PastBound past;
};

// What reading a file had to do besides decoding it.
struct FileNotes {
    // Damaged text (invalid UTF-8, an escaped lone surrogate) was read as U+FFFD.
    bool repaired = false;
    // The key of the list that was past its refusing bound (the bound's own
    // text); nothing was decoded.
    std::string_view overBound;
    // The fields of the decoded record whose (last) value was not null, one
    // bit each in the order of RecordFields (see fieldPresent).
    std::uint64_t presentFields = 0;
};

// Whether the record decoded from a file had a value for `key`: what a
// migration needs to tell a key left out from one that was written.
template <class R>
bool fieldPresent(const FileNotes& notes, std::string_view key) {
    bool present = false;
    int index = 0;
    forEachField<R>([&](const auto& field) {
        if (key == field.key) present = (notes.presentFields >> index & 1) != 0;
        ++index;
    });
    return present;
}

// One pass over the bytes without parsing: whether arrays and objects nest
// deeper than `maxDepth`, the first refusing bound that a list (or object)
// under a key of the top-level object goes past, and the tails of the lists
// past a dropping bound. Exact for well-formed JSON; anything else the parser
// refuses anyway. A key written with escapes is not recognised here; the
// decoder counts its list again.
struct JsonShape {
    bool tooDeep = false;
    const ListBound* over = nullptr;
    // Byte ranges of the text that hold the elements past a dropping bound,
    // each from the separator before the first of them to the list's end.
    std::vector<std::pair<std::size_t, std::size_t>> dropped;
};
JsonShape scanJsonShape(std::string_view text, std::span<const ListBound> bounds, int maxDepth);

// The text without the given ranges (in order, not overlapping); empty when there are none.
std::string withoutRanges(std::string_view text, const std::vector<std::pair<std::size_t, std::size_t>>& ranges);

namespace streamed {

class Decoder;

enum class Step { fail, stay, done };

// One level of the value being read. The frame on top of the decoder's stack
// gets the parser's events; a frame may push another for a value inside it.
class Frame {
public:
    virtual ~Frame() = default;
    virtual bool scalar(Decoder& decoder, Json&& value) = 0;
    // A text value: the most common kind, which a frame may take without a JSON value around it.
    virtual bool text(Decoder& decoder, std::string& value) { return scalar(decoder, Json(value)); }
    virtual bool start(Decoder& decoder, bool array) = 0;
    virtual bool key(Decoder& decoder, std::string& key) = 0;
    // The container this frame stands for (or one inside it) ended.
    virtual Step end(Decoder& decoder) = 0;
};

// Turns nlohmann's SAX events into calls on the frame on top of its stack.
// The first event must begin an object, which `root` reads.
class Decoder {
public:
    Decoder(std::unique_ptr<Frame> root, FileNotes& notes) : root_(std::move(root)), notes_(notes) {}

    // True when the text was one JSON object that the frames accepted.
    bool run(std::string_view text);
    void push(std::unique_ptr<Frame> frame) { frames_.push_back(std::move(frame)); }
    // Notes the bound and stops the parse.
    bool refuse(const ListBound& bound) {
        notes_.overBound = bound.key;
        return false;
    }

    // nlohmann's SAX interface.
    bool null() { return scalar(Json(nullptr)); }
    bool boolean(bool value) { return scalar(Json(value)); }
    bool number_integer(Json::number_integer_t value) { return scalar(Json(value)); }
    bool number_unsigned(Json::number_unsigned_t value) { return scalar(Json(value)); }
    bool number_float(Json::number_float_t value, const std::string&) { return scalar(Json(value)); }
    bool string(std::string& value) { return !frames_.empty() && frames_.back()->text(*this, value); }
    bool binary(Json::binary_t&) { return false; }  // JSON text has none
    bool start_object(std::size_t) { return start(false); }
    bool start_array(std::size_t) { return start(true); }
    bool key(std::string& key) { return !frames_.empty() && frames_.back()->key(*this, key); }
    bool end_object() { return end(); }
    bool end_array() { return end(); }
    bool parse_error(std::size_t, const std::string&, const Json::exception&) { return false; }

private:
    bool scalar(Json&& value);
    bool start(bool array);
    bool end();

    std::unique_ptr<Frame> root_;  // until the first object begins
    std::vector<std::unique_ptr<Frame>> frames_;
    FileNotes& notes_;
};

// The content of a container that does not matter (the value of an unknown key).
std::unique_ptr<Frame> skipFrame();

// A value read whole as JSON and then handed to `read`. The elements of its
// own container are counted against `bound` (none: unbounded); one past a
// dropping bound is handed alone, inside a container of its own, to `check`
// and then dropped.
std::unique_ptr<Frame> valueFrame(bool array, const ListBound* bound, std::function<bool(const Json&)> read,
                                  std::function<bool(const Json&)> check);

template <class T>
inline constexpr bool isRecordList = false;
template <class T>
    requires requires { RecordFields<T>::list; }
inline constexpr bool isRecordList<std::vector<T>> = true;

template <class T>
class ListFrame;

// A record read field by field as its values are parsed, with the rules of
// readFields. A list of records in a field is read record by record; any other
// value in a field is read whole and then handed to the field's form.
template <class R>
class RecordFrame final : public Frame {
public:
    // `bounds` apply to the fields of this record; `present` learns which
    // fields had a value (both for the top-level record).
    RecordFrame(R& out, std::span<const ListBound> bounds, std::uint64_t* present = nullptr)
        : out_(out), bounds_(bounds), present_(present) {}

    bool key(Decoder&, std::string& key) override {
        const auto& keys = fieldKeys();
        const auto it = std::find(keys.begin(), keys.end(), std::string_view(key));
        field_ = it == keys.end() ? -1 : static_cast<int>(it - keys.begin());
        return true;
    }

    bool text(Decoder& decoder, std::string& value) override {
        if (field_ < 0) return true;
        bool plain = false;
        const bool read = onField([&](const auto& field, std::uint64_t bit) {
            using T = std::remove_cvref_t<decltype(out_.*field.member)>;
            if constexpr (std::is_same_v<decltype(field.form), PlainForm> && std::is_same_v<T, std::string>) {
                plain = true;
                assigned_ |= bit;
                out_.*field.member = value;
            }
            return true;
        });
        return plain ? read : scalar(decoder, Json(value));
    }

    bool scalar(Decoder&, Json&& value) override {
        return onField([&](const auto& field, std::uint64_t bit) {
            using Form = decltype(field.form);
            using T = std::remove_cvref_t<decltype(out_.*field.member)>;
            if (!value.is_null()) {
                assigned_ |= bit;
                if constexpr (isRecordList<T> && std::is_same_v<Form, PlainForm>) {
                    return false;  // a list of records, given a number or a text
                } else {
                    return Form::read(value, out_.*field.member);
                }
            }
            // Null keeps the default; when the key came before with a value,
            // the last one counts, as in a parsed object.
            if (assigned_ & bit) {
                takeDefault(field);
                assigned_ &= ~bit;
            }
            return true;
        });
    }

    bool start(Decoder& decoder, bool array) override {
        if (field_ < 0) {
            decoder.push(skipFrame());
            return true;
        }
        return onField([&](const auto& field, std::uint64_t bit) {
            using Form = decltype(field.form);
            auto& member = out_.*field.member;
            using T = std::remove_cvref_t<decltype(member)>;
            assigned_ |= bit;
            const ListBound* bound = boundFor(field.key);
            if constexpr (isRecordList<T> && std::is_same_v<Form, PlainForm>) {
                if (!array) return false;
                member.clear();  // a repeated key: the last list counts
                decoder.push(std::make_unique<ListFrame<typename T::value_type>>(member, bound));
            } else {
                decoder.push(valueFrame(
                    array, bound, [&member](const Json& value) { return Form::read(value, member); },
                    [](const Json& value) {
                        T scratch{};
                        return Form::read(value, scratch);
                    }));
            }
            return true;
        });
    }

    Step end(Decoder&) override {
        if (present_) *present_ = assigned_;
        if constexpr (!freshField<R>.empty()) {
            int index = 0;
            forEachField<R>([&](const auto& field) {
                if (field.key == freshField<R> && !(assigned_ >> index & 1)) takeDefault(field);
                ++index;
            });
        }
        return (assigned_ & requiredFields()) == requiredFields() ? Step::done : Step::fail;
    }

private:
    static constexpr std::size_t fieldCount = std::tuple_size_v<std::remove_cvref_t<decltype(RecordFields<R>::list)>>;
    static_assert(fieldCount <= 64);

    // Calls visit(field, its bit) for the field of the current key; an unknown key's value is ignored.
    template <class Visit>
    bool onField(Visit visit) {
        if (field_ < 0) return true;
        bool result = false;
        int index = 0;
        forEachField<R>([&](const auto& field) {
            if (index == field_) result = visit(field, std::uint64_t{1} << index);
            ++index;
        });
        return result;
    }

    template <class Field>
    void takeDefault(const Field& field) {
        R fresh{};
        out_.*field.member = std::move(fresh.*field.member);
    }

    static const std::array<std::string_view, fieldCount>& fieldKeys() {
        static const std::array<std::string_view, fieldCount> keys = [] {
            std::array<std::string_view, fieldCount> all{};
            std::size_t index = 0;
            forEachField<R>([&](const auto& field) { all[index++] = field.key; });
            return all;
        }();
        return keys;
    }

    static std::uint64_t requiredFields() {
        std::uint64_t mask = 0;
        int index = 0;
        forEachField<R>([&](const auto& field) {
            if constexpr (decltype(field.form)::required) mask |= std::uint64_t{1} << index;
            ++index;
        });
        return mask;
    }

    const ListBound* boundFor(std::string_view key) const {
        for (const ListBound& bound : bounds_) {
            if (bound.key == key) return &bound;
        }
        return nullptr;
    }

    R& out_;
    std::span<const ListBound> bounds_;
    std::uint64_t* present_;
    int field_ = -1;              // the field of the current key; -1 for an unknown key
    std::uint64_t assigned_ = 0;  // fields whose last value was not null
};

// The elements of a list of records, each decoded as it is parsed.
template <class T>
class ListFrame final : public Frame {
public:
    ListFrame(std::vector<T>& out, const ListBound* bound) : out_(out), bound_(bound) {}

    // An element that is not an object is not a record.
    bool scalar(Decoder&, Json&&) override { return false; }
    bool key(Decoder&, std::string&) override { return false; }

    bool start(Decoder& decoder, bool array) override {
        if (array) return false;
        T* target = nullptr;
        if (!bound_ || ++count_ <= bound_->max) {
            target = &out_.emplace_back(blank_);
        } else if (bound_->past == PastBound::refuse) {
            return decoder.refuse(*bound_);
        } else {
            scratch_ = blank_;  // checked like the ones kept, so a bad one still fails the record
            target = &scratch_;
        }
        decoder.push(std::make_unique<RecordFrame<T>>(*target, std::span<const ListBound>()));
        return true;
    }

    Step end(Decoder&) override { return Step::done; }

private:
    std::vector<T>& out_;
    const ListBound* bound_;
    std::size_t count_ = 0;
    const T blank_{};  // every element starts as a copy (see freshField)
    T scratch_{};
};

}  // namespace streamed

// Decodes the text of a file the system owns as a record of type R: damaged
// text is repaired (text_repair.hpp, noted in `notes`), the lists under
// `bounds` are held to them while parsing, and otherwise the rules of
// readFields apply. None when the text is not a JSON object of R's shape,
// nests deeper than `maxDepth`, or has a list past a refusing bound (named in
// `notes`).
template <class R>
std::optional<R> decodeFile(std::string_view text, std::span<const ListBound> bounds, FileNotes& notes,
                            int maxDepth = 256) {
    notes = FileNotes{};
    // The parser ends the text at a NUL byte, as a file cut short by a crash
    // is often padded with zeros; so does everything here.
    text = text.substr(0, text.find('\0'));
    const std::optional<std::string> repaired = repairedJsonText(text);
    notes.repaired = repaired.has_value();
    const std::string_view sound = repaired ? std::string_view(*repaired) : text;
    // The byte scan refuses a huge list before a single record is built.
    const JsonShape shape = scanJsonShape(sound, bounds, maxDepth);
    if (shape.over) notes.overBound = shape.over->key;
    if (shape.tooDeep || shape.over) return std::nullopt;
    // The dropped tails are cut out unread: a list grown to millions of
    // entries costs one byte scan, not a parse. (What the tail holds is then
    // not checked; it is thrown away either way.)
    const std::string cut = withoutRanges(sound, shape.dropped);
    R record{};
    streamed::Decoder decoder(std::make_unique<streamed::RecordFrame<R>>(record, bounds, &notes.presentFields),
                              notes);
    if (!decoder.run(shape.dropped.empty() ? sound : std::string_view(cut))) return std::nullopt;
    return record;
}

}  // namespace tallowmark
