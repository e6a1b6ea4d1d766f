#pragma once

// MIDI Show Control: universal real-time SysEx messages that desks send to
// call cues by number. Pure functions.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tallowmark::MSC {

enum class Command : std::uint8_t {
    go = 0x01,
    stop = 0x02,
    resume = 0x03,
    timedGo = 0x04,
    load = 0x05,
    set = 0x06,
    fire = 0x07,
    allOff = 0x08,
    restore = 0x09,
    reset = 0x0A,
    goOff = 0x0B,
};

// None outside 01..0B.
std::optional<Command> commandFromByte(std::uint8_t byte);

inline constexpr std::uint8_t allCallDevice = 0x7F;

struct Message {
    std::uint8_t deviceID = allCallDevice;
    std::uint8_t format = 0x01;
    Command command = Command::go;
    std::optional<std::string> cue;   // kept as text exactly as sent ("12.5")
    std::optional<std::string> list;
    std::optional<std::string> path;

    // The control-log line, e.g. "MSC GO cue 12.5 list 3  [dev 5, Lighting]".
    std::string summary() const;

    bool operator==(const Message&) const = default;
};

// None for anything that is not an MSC message; never reads outside `bytes`.
std::optional<Message> decode(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> encode(const Message& message);

// "Lighting", "Sound", ... or "0x%02X" for other command formats.
std::string formatLabel(std::uint8_t format);

}  // namespace tallowmark::MSC
