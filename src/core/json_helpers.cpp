#include "core/json_helpers.hpp"

#include <glib.h>

#include <array>
#include <cmath>
#include <functional>
#include <limits>

namespace tallowmark {

namespace {

// The bytes that can change what scanJsonShape knows; everything else (the
// bulk of a file: texts, numbers, white space) is stepped over.
constexpr std::array<bool, 256> shapeBytes = [] {
    std::array<bool, 256> table{};
    for (unsigned char c : std::string_view("\"{}[],:")) table[c] = true;
    return table;
}();

constexpr std::array<bool, 256> stringBytes = [] {
    std::array<bool, 256> table{};
    table[static_cast<unsigned char>('"')] = table[static_cast<unsigned char>('\\')] = true;
    return table;
}();

std::size_t nextOf(const std::array<bool, 256>& table, std::string_view text, std::size_t from) {
    while (from < text.size() && !table[static_cast<unsigned char>(text[from])]) ++from;
    return from;
}

}  // namespace

JsonShape scanJsonShape(std::string_view text, std::span<const ListBound> bounds, int maxDepth) {
    JsonShape shape;
    int depth = 0;
    std::string_view lastText;             // the last text closed at depth 1: a key once ':' follows
    const ListBound* valueBound = nullptr;  // the bound of the key whose value comes next
    const ListBound* listBound = nullptr;   // that of the container open at depth 2
    bool dropping = false;                  // the rest of that container is past its dropping bound
    std::size_t commas = 0;                 // separators seen in that container so far
    for (std::size_t i = nextOf(shapeBytes, text, 0); i < text.size(); i = nextOf(shapeBytes, text, i + 1)) {
        switch (text[i]) {
            case '"': {
                // To the closing quote; an escaped character, a quote included, is skipped.
                const std::size_t begin = i + 1;
                for (i = nextOf(stringBytes, text, begin); i < text.size() && text[i] == '\\';
                     i = nextOf(stringBytes, text, i + 2)) {
                }
                if (i >= text.size()) return shape;
                if (depth == 1) lastText = text.substr(begin, i - begin);
                break;
            }
            case ':':
                if (depth != 1) break;
                valueBound = nullptr;
                for (const ListBound& bound : bounds) {
                    if (bound.key == lastText) valueBound = &bound;
                }
                break;
            case ',':
                if (depth == 1) valueBound = nullptr;
                // n separators: n + 1 elements.
                if (depth != 2 || !listBound || dropping || ++commas < listBound->max) break;
                if (listBound->past == PastBound::refuse) {
                    shape.over = listBound;
                    return shape;
                }
                dropping = true;
                shape.dropped.emplace_back(i, i);
                break;
            case '{':
            case '[':
                if (++depth > maxDepth) {
                    shape.tooDeep = true;
                    return shape;
                }
                if (depth == 2) {
                    // A dropping bound cuts lists only; the decoder refuses an object past it.
                    listBound = valueBound && (text[i] == '[' || valueBound->past == PastBound::refuse) ? valueBound
                                                                                                      : nullptr;
                    valueBound = nullptr;
                    dropping = false;
                    commas = 0;
                }
                break;
            default:  // '}' or ']'
                if (depth == 2 && dropping) shape.dropped.back().second = i;
                if (depth == 2) listBound = nullptr;
                if (depth > 0) --depth;
                break;
        }
    }
    return shape;
}

std::string withoutRanges(std::string_view text, const std::vector<std::pair<std::size_t, std::size_t>>& ranges) {
    if (ranges.empty()) return {};
    std::string kept;
    std::size_t from = 0;
    for (const auto& [begin, end] : ranges) {
        kept.append(text.substr(from, begin - from));
        from = end;
    }
    kept.append(text.substr(from));
    return kept;
}

std::optional<Json> parseJson(std::string_view text, int maxDepth) {
    // The depth is checked in one pass over the bytes before the plain parse: a
    // parser callback would do the same but makes nlohmann rescan the parent
    // container after every value, which is quadratic in the number of values.
    // Only as far as the parser reads: it ends the text at a NUL byte.
    if (scanJsonShape(text.substr(0, text.find('\0')), {}, maxDepth).tooDeep) return std::nullopt;
    try {
        Json value = Json::parse(text.data(), text.data() + text.size(), nullptr, /*allow_exceptions=*/false);
        if (value.is_discarded()) return std::nullopt;
        return value;
    } catch (const std::exception&) {
        // Only memory exhaustion is left to throw here; a file is refused, not fatal.
        return std::nullopt;
    }
}

namespace streamed {

namespace {

class SkipFrame final : public Frame {
public:
    bool scalar(Decoder&, Json&&) override { return true; }
    bool key(Decoder&, std::string&) override { return true; }
    bool start(Decoder&, bool) override {
        ++depth_;
        return true;
    }
    Step end(Decoder&) override { return --depth_ == 0 ? Step::done : Step::stay; }

private:
    int depth_ = 1;  // made when its container began
};

class ValueFrame final : public Frame {
public:
    ValueFrame(bool array, const ListBound* bound, std::function<bool(const Json&)> read,
               std::function<bool(const Json&)> check)
        : root_(array ? Json::array() : Json::object()), bound_(bound), read_(std::move(read)),
          check_(std::move(check)) {
        stack_.push_back(&root_);
    }

    bool scalar(Decoder& decoder, Json&& value) override {
        if (!admit(decoder)) return false;
        put(std::move(value));
        return stack_.size() > 1 || settle();
    }

    bool start(Decoder& decoder, bool array) override {
        if (!admit(decoder)) return false;
        stack_.push_back(put(array ? Json::array() : Json::object()));
        return true;
    }

    bool key(Decoder& decoder, std::string& key) override {
        if (stack_.size() == 1 && !count(decoder)) return false;
        key_ = key;
        return true;
    }

    Step end(Decoder&) override {
        stack_.pop_back();
        if (stack_.empty()) return read_(root_) ? Step::done : Step::fail;
        if (stack_.size() == 1 && !settle()) return Step::fail;
        return Step::stay;
    }

private:
    // The values of the frame's own array are its elements; the members of
    // its own object are counted at their keys.
    bool admit(Decoder& decoder) { return stack_.size() > 1 || !root_.is_array() || count(decoder); }

    bool count(Decoder& decoder) {
        if (!bound_ || ++count_ <= bound_->max) return true;
        if (bound_->past == PastBound::refuse || root_.is_object()) return decoder.refuse(*bound_);
        dropping_ = true;
        return true;
    }

    Json* put(Json&& value) {
        Json& parent = *stack_.back();
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return &parent.back();
        }
        Json& slot = parent[key_];
        slot = std::move(value);
        return &slot;
    }

    // An element of the frame's own array is complete: one past a dropping
    // bound is checked alone, then dropped.
    bool settle() {
        if (!dropping_) return true;
        dropping_ = false;
        Json alone = Json::array();
        alone.push_back(std::move(root_.back()));
        root_.erase(root_.size() - 1);
        return check_(alone);
    }

    Json root_;
    std::vector<Json*> stack_;  // the containers open in root_, root_ first
    std::string key_;           // the key of the next value in an object
    const ListBound* bound_;
    std::size_t count_ = 0;
    bool dropping_ = false;  // the element being read is past a dropping bound
    std::function<bool(const Json&)> read_;
    std::function<bool(const Json&)> check_;
};

}  // namespace

std::unique_ptr<Frame> skipFrame() { return std::make_unique<SkipFrame>(); }

std::unique_ptr<Frame> valueFrame(bool array, const ListBound* bound, std::function<bool(const Json&)> read,
                                  std::function<bool(const Json&)> check) {
    return std::make_unique<ValueFrame>(array, bound, std::move(read), std::move(check));
}

bool Decoder::run(std::string_view text) {
    try {
        const bool parsed = Json::sax_parse(text.data(), text.data() + text.size(), this);
        return parsed && !root_ && frames_.empty();
    } catch (const std::exception&) {
        // Only memory exhaustion is left to throw here; a file is refused, not fatal.
        return false;
    }
}

bool Decoder::scalar(Json&& value) { return !frames_.empty() && frames_.back()->scalar(*this, std::move(value)); }

bool Decoder::start(bool array) {
    if (!frames_.empty()) return frames_.back()->start(*this, array);
    // The whole text is one object: the record.
    if (array || !root_) return false;
    frames_.push_back(std::move(root_));
    return true;
}

bool Decoder::end() {
    if (frames_.empty()) return false;
    const Step step = frames_.back()->end(*this);
    if (step == Step::done) frames_.pop_back();
    return step != Step::fail;
}

}  // namespace streamed

std::string dumpJson(const Json& value, int indent) {
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

bool allFinite(const Json& value) {
    switch (value.type()) {
        case Json::value_t::number_float:
            return std::isfinite(value.get<double>());
        case Json::value_t::array:
        case Json::value_t::object:
            for (const Json& element : value) {
                if (!allFinite(element)) return false;
            }
            return true;
        default:
            return true;
    }
}

bool readValue(const Json& value, bool& out) {
    if (!value.is_boolean()) return false;
    out = value.get<bool>();
    return true;
}

bool readValue(const Json& value, std::int64_t& out) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        out = value.get<std::int64_t>();
        return true;
    }
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
        out = static_cast<std::int64_t>(u);
        return true;
    }
    if (value.is_number_float()) {
        // 1e3 is a whole number written as a real; 1.5 is not an integer.
        const double d = value.get<double>();
        constexpr double limit = 9223372036854775808.0;  // 2^63
        if (!std::isfinite(d) || d != std::trunc(d) || d < -limit || d >= limit) return false;
        out = static_cast<std::int64_t>(d);
        return true;
    }
    return false;
}

bool readValue(const Json& value, double& out) {
    if (!value.is_number()) return false;
    const double d = value.get<double>();
    // A literal such as 1e999 parses as infinity, which could never be written back.
    if (!std::isfinite(d)) return false;
    out = d;
    return true;
}

bool readValue(const Json& value, std::string& out) {
    if (!value.is_string()) return false;
    out = value.get<std::string>();
    return true;
}

bool readValue(const Json& value, std::map<std::string, std::string>& out) {
    if (!value.is_object()) return false;
    std::map<std::string, std::string> entries;
    for (auto it = value.begin(); it != value.end(); ++it) {
        if (!it.value().is_string()) return false;
        entries.emplace(it.key(), it.value().get<std::string>());
    }
    out = std::move(entries);
    return true;
}

}  // namespace tallowmark

namespace tallowmark {

namespace {

constexpr char escapedPathMark = '\0';

// Length of the valid UTF-8 character at the start of `text`; 0 when its first
// byte does not begin one. GLib refuses the same sequences as nlohmann's
// writer: overlong forms, surrogates, values past U+10FFFF.
std::size_t validCharLength(std::string_view text) {
    if (text.front() == '\0') return 1;  // GLib treats NUL as an end; JSON writes it as \u0000
    const gunichar c = g_utf8_get_char_validated(text.data(), static_cast<gssize>(text.size()));
    if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) return 0;
    return static_cast<std::size_t>(g_unichar_to_utf8(c, nullptr));
}

}  // namespace

Json pathToJson(std::string_view bytes) {
    bool plain = bytes.empty() || bytes.front() != escapedPathMark;
    for (std::size_t at = 0; plain && at < bytes.size();) {
        const std::size_t length = validCharLength(bytes.substr(at));
        if (length == 0) plain = false;
        at += length;
    }
    if (plain) return std::string(bytes);

    static constexpr char hex[] = "0123456789ABCDEF";
    std::string text(1, escapedPathMark);
    text.reserve(bytes.size() + 16);
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = validCharLength(bytes.substr(at));
        if (length == 0 || bytes[at] == '%') {
            const auto byte = static_cast<unsigned char>(bytes[at]);
            text += '%';
            text += hex[byte >> 4];
            text += hex[byte & 0xF];
            ++at;
        } else {
            text.append(bytes.substr(at, length));
            at += length;
        }
    }
    return text;
}

bool readPath(const Json& value, std::string& out) {
    if (!value.is_string()) return false;
    const auto& text = value.get_ref<const std::string&>();
    if (text.empty() || text.front() != escapedPathMark) {
        out = text;
        return true;
    }
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t at = 1; at < text.size(); ++at) {
        if (text[at] != '%') {
            bytes += text[at];
            continue;
        }
        if (text.size() - at < 3) return false;
        const int high = g_ascii_xdigit_value(text[at + 1]);
        const int low = g_ascii_xdigit_value(text[at + 2]);
        if (high < 0 || low < 0) return false;
        bytes += static_cast<char>(high << 4 | low);
        at += 2;
    }
    out = std::move(bytes);
    return true;
}

Json pathListToJson(const std::vector<std::string>& paths) {
    Json list = Json::array();
    for (const std::string& path : paths) list.push_back(pathToJson(path));
    return list;
}

bool readPathList(const Json& value, std::vector<std::string>& out) {
    if (!value.is_array()) return false;
    std::vector<std::string> paths(value.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!readPath(value[i], paths[i])) return false;
    }
    out = std::move(paths);
    return true;
}

}  // namespace tallowmark
