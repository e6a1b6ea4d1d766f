#pragma once

// Open Sound Control 1.0 binary encoding with a small tag set. Decoding drops,
// never fails: whatever arrives from the network gives a (possibly empty) list
// of messages. Pure functions; safe on any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tallowmark {

struct OSCImpulse {
    bool operator==(const OSCImpulse&) const = default;
};
struct OSCNull {
    bool operator==(const OSCNull&) const = default;
};
using OSCBlob = std::vector<std::uint8_t>;

// Cases in wire-tag order: i, f, s (S), b, T/F, I, N.
using OSCArgument = std::variant<std::int32_t, float, std::string, OSCBlob, bool, OSCImpulse, OSCNull>;

struct OSCMessage {
    std::string address;  // as received, case kept
    std::vector<OSCArgument> arguments;

    // The first argument as a cue number: ints in decimal, whole floats below
    // 1e9 as integers, other floats in their shortest round-trip form, strings
    // unchanged, bools as "1"/"0"; none for blobs, impulse, null or no argument.
    std::optional<std::string> firstAsString() const;
    // The first argument as a page number or on/off value (never traps on
    // huge, NaN or malformed input).
    std::optional<std::int64_t> firstAsInt() const;

    bool operator==(const OSCMessage&) const = default;
};

namespace OSCCodec {

// Bundles nested deeper than this are dropped (the top-level packet is depth 0).
inline constexpr int maxBundleDepth = 3;

// Appends the messages found in `data` to `into`.
void decode(std::span<const std::uint8_t> data, std::vector<OSCMessage>& into, int depth);
std::vector<OSCMessage> decode(std::span<const std::uint8_t> data);

// The datagram for one message; always a multiple of 4 bytes.
std::vector<std::uint8_t> encode(const OSCMessage& message);
// One datagram holding every message, to be acted on at once (time tag 1).
std::vector<std::uint8_t> encodeBundle(const std::vector<OSCMessage>& messages);

// The OSC string form: UTF-8 bytes, a zero, zeros up to a multiple of 4.
std::vector<std::uint8_t> padded(std::string_view text);

struct StringRead {
    std::string value;  // invalid UTF-8 replaced by U+FFFD
    std::size_t next;   // offset of the following field (may lie past the end)
};
std::optional<StringRead> readString(std::span<const std::uint8_t> data, std::size_t at);

}  // namespace OSCCodec

}  // namespace tallowmark
