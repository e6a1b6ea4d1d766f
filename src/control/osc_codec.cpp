#include "control/osc_codec.hpp"

#include <glib.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace tallowmark {

namespace {

using Bytes = std::span<const std::uint8_t>;

// A zero-terminated field: text in [begin, end), the zero at `end`, the next
// field at `next` (which may lie past the end of the packet).
struct RawString {
    std::size_t begin;
    std::size_t end;
    std::size_t next;
};

std::optional<RawString> findString(Bytes data, std::size_t at) {
    if (at >= data.size()) return std::nullopt;
    const auto zero = std::find(data.begin() + static_cast<std::ptrdiff_t>(at), data.end(), std::uint8_t{0});
    if (zero == data.end()) return std::nullopt;
    const auto end = static_cast<std::size_t>(zero - data.begin());
    // end < data.size(), so rounding up cannot wrap.
    return RawString{at, end, (end + 4) & ~std::size_t{3}};
}

std::string utf8Text(Bytes data, const RawString& raw) {
    const auto* chars = reinterpret_cast<const char*>(data.data() + raw.begin);
    const auto length = static_cast<gssize>(raw.end - raw.begin);
    if (g_utf8_validate_len(chars, static_cast<gsize>(length), nullptr)) return std::string(chars, length);
    // A stray Latin-1 byte in a cue name should not cost the operator the GO.
    gchar* repaired = g_utf8_make_valid(chars, length);
    std::string text(repaired);
    g_free(repaired);
    return text;
}

// Bytes available from `at`; the running offset may already lie past the end.
std::size_t remaining(Bytes data, std::size_t at) { return at < data.size() ? data.size() - at : 0; }

std::uint32_t readU32(Bytes data, std::size_t at) {
    return std::uint32_t{data[at]} << 24 | std::uint32_t{data[at + 1]} << 16 | std::uint32_t{data[at + 2]} << 8 |
           std::uint32_t{data[at + 3]};
}

void appendU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void appendPadded(std::vector<std::uint8_t>& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
    out.resize(out.size() + 4 - text.size() % 4, 0);
}

bool isBundle(Bytes data) {
    static constexpr char tag[8] = {'#', 'b', 'u', 'n', 'd', 'l', 'e', '\0'};
    return data.size() >= 16 && std::memcmp(data.data(), tag, sizeof tag) == 0;
}

void decodeBundle(Bytes data, std::vector<OSCMessage>& into, int depth) {
    // Bytes 8..15 hold the time tag. A prompt book acts on arrival, so it is not read.
    std::size_t at = 16;
    while (remaining(data, at) >= 4) {
        const std::size_t size = readU32(data, at);
        if (size == 0) return;
        if (size > remaining(data, at) - 4) return;
        OSCCodec::decode(data.subspan(at + 4, size), into, depth + 1);
        at += 4 + size;
    }
}

// Reads the arguments named by `tags` from `at`; false when the data runs out.
bool readArguments(Bytes data, std::string_view tags, std::size_t at, std::vector<OSCArgument>& out) {
    for (const char tag : tags) {
        switch (tag) {
            case 'i':
            case 'f': {
                if (remaining(data, at) < 4) return false;
                const std::uint32_t bits = readU32(data, at);
                at += 4;
                if (tag == 'i') {
                    out.emplace_back(std::bit_cast<std::int32_t>(bits));
                } else {
                    out.emplace_back(std::bit_cast<float>(bits));
                }
                break;
            }
            case 's':
            case 'S': {
                const auto raw = findString(data, at);
                if (!raw) return false;
                out.emplace_back(utf8Text(data, *raw));
                at = raw->next;
                break;
            }
            case 'b': {
                if (remaining(data, at) < 4) return false;
                const std::size_t size = readU32(data, at);
                at += 4;
                if (remaining(data, at) < size) return false;
                const auto first = data.begin() + static_cast<std::ptrdiff_t>(at);
                out.emplace_back(OSCBlob(first, first + static_cast<std::ptrdiff_t>(size)));
                at += size;
                if (size % 4 != 0) at += 4 - size % 4;
                break;
            }
            case 'T': out.emplace_back(true); break;
            case 'F': out.emplace_back(false); break;
            case 'N': out.emplace_back(OSCNull{}); break;
            case 'I': out.emplace_back(OSCImpulse{}); break;
            default:
                // Later tags may need bytes we cannot size, so keep what was read.
                return true;
        }
    }
    return true;
}

void decodeMessage(Bytes data, std::vector<OSCMessage>& into) {
    const auto address = findString(data, 0);
    if (!address || data[0] != '/') return;

    OSCMessage message;
    message.address = utf8Text(data, *address);

    // Some senders omit the type tags entirely; treat that as no arguments.
    const auto tags = findString(data, address->next);
    if (tags && tags->end > tags->begin && data[tags->begin] == ',') {
        const std::string_view tagText(reinterpret_cast<const char*>(data.data() + tags->begin + 1),
                                       tags->end - tags->begin - 1);
        if (!readArguments(data, tagText, tags->next, message.arguments)) return;
    }
    into.push_back(std::move(message));
}

// Shared by the float row and the string-as-number row of firstAsInt.
std::optional<std::int64_t> roundedWhole(double value) {
    // Beyond 1e9 a float no longer names a page or a level; it also keeps the
    // conversion far from the int64 limits.
    if (!std::isfinite(value) || std::fabs(value) >= 1e9) return std::nullopt;
    return static_cast<std::int64_t>(std::round(value));
}

std::optional<std::int64_t> integerFromText(std::string_view text) {
    // from_chars takes a "-" but no "+"; strip one "+" and refuse a second sign.
    std::string_view body = text;
    if (!body.empty() && body.front() == '+') {
        body.remove_prefix(1);
        if (!body.empty() && (body.front() == '+' || body.front() == '-')) return std::nullopt;
    }
    const char* last = body.data() + body.size();

    std::int64_t whole = 0;
    const auto intRead = std::from_chars(body.data(), last, whole);
    if (intRead.ec == std::errc() && intRead.ptr == last) return whole;

    // from_chars also reads "inf" and "nan"; roundedWhole refuses both.
    double real = 0;
    const auto realRead = std::from_chars(body.data(), last, real, std::chars_format::general);
    if (realRead.ec != std::errc() || realRead.ptr != last) return std::nullopt;
    return roundedWhole(real);
}

}  // namespace

std::optional<std::string> OSCMessage::firstAsString() const {
    if (arguments.empty()) return std::nullopt;
    const OSCArgument& first = arguments.front();
    if (const auto* i = std::get_if<std::int32_t>(&first)) return std::to_string(*i);
    if (const auto* f = std::get_if<float>(&first)) {
        if (std::isnan(*f)) return "nan";  // never "-nan": a cue cannot be numbered that
        // Desks that send cue numbers as floats must hit the cue marked "12" with 12.0.
        if (std::round(*f) == *f && std::fabs(*f) < 1e9f) return std::to_string(static_cast<std::int64_t>(*f));
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, *f);
        return std::string(buffer, result.ptr);
    }
    if (const auto* s = std::get_if<std::string>(&first)) return *s;
    if (const auto* b = std::get_if<bool>(&first)) return *b ? "1" : "0";
    return std::nullopt;
}

std::optional<std::int64_t> OSCMessage::firstAsInt() const {
    if (arguments.empty()) return std::nullopt;
    const OSCArgument& first = arguments.front();
    if (const auto* i = std::get_if<std::int32_t>(&first)) return *i;
    if (const auto* f = std::get_if<float>(&first)) return roundedWhole(*f);
    if (const auto* s = std::get_if<std::string>(&first)) return integerFromText(*s);
    if (const auto* b = std::get_if<bool>(&first)) return *b ? 1 : 0;
    return std::nullopt;
}

namespace OSCCodec {

void decode(std::span<const std::uint8_t> data, std::vector<OSCMessage>& into, int depth) {
    if (data.empty()) return;
    if (isBundle(data)) {
        if (depth > maxBundleDepth) return;
        decodeBundle(data, into, depth);
        return;
    }
    decodeMessage(data, into);
}

std::vector<OSCMessage> decode(std::span<const std::uint8_t> data) {
    std::vector<OSCMessage> messages;
    decode(data, messages, 0);
    return messages;
}

std::vector<std::uint8_t> encode(const OSCMessage& message) {
    std::string tags = ",";
    std::vector<std::uint8_t> data;
    for (const OSCArgument& argument : message.arguments) {
        if (const auto* i = std::get_if<std::int32_t>(&argument)) {
            tags += 'i';
            appendU32(data, std::bit_cast<std::uint32_t>(*i));
        } else if (const auto* f = std::get_if<float>(&argument)) {
            tags += 'f';
            appendU32(data, std::bit_cast<std::uint32_t>(*f));
        } else if (const auto* s = std::get_if<std::string>(&argument)) {
            tags += 's';
            appendPadded(data, *s);
        } else if (const auto* b = std::get_if<OSCBlob>(&argument)) {
            tags += 'b';
            // A UDP datagram cannot carry 4 GiB, so the 32-bit count never truncates in use.
            appendU32(data, static_cast<std::uint32_t>(b->size()));
            data.insert(data.end(), b->begin(), b->end());
            data.resize((data.size() + 3) & ~std::size_t{3}, 0);
        } else if (const auto* flag = std::get_if<bool>(&argument)) {
            tags += *flag ? 'T' : 'F';
        } else if (std::holds_alternative<OSCImpulse>(argument)) {
            tags += 'I';
        } else {
            tags += 'N';
        }
    }

    std::vector<std::uint8_t> out;
    out.reserve(message.address.size() + tags.size() + data.size() + 8);
    appendPadded(out, message.address);
    appendPadded(out, tags);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::vector<std::uint8_t> encodeBundle(const std::vector<OSCMessage>& messages) {
    std::vector<std::uint8_t> out;
    appendPadded(out, "#bundle");
    appendU32(out, 0);
    appendU32(out, 1);
    for (const OSCMessage& message : messages) {
        const std::vector<std::uint8_t> element = encode(message);
        appendU32(out, static_cast<std::uint32_t>(element.size()));
        out.insert(out.end(), element.begin(), element.end());
    }
    return out;
}

std::vector<std::uint8_t> padded(std::string_view text) {
    std::vector<std::uint8_t> out;
    out.reserve(text.size() + 4);
    appendPadded(out, text);
    return out;
}

std::optional<StringRead> readString(std::span<const std::uint8_t> data, std::size_t at) {
    const auto raw = findString(data, at);
    if (!raw) return std::nullopt;
    return StringRead{utf8Text(data, *raw), raw->next};
}

}  // namespace OSCCodec

}  // namespace tallowmark
