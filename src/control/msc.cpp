#include "control/msc.hpp"

#include <glib.h>

#include <array>
#include <cstddef>
#include <cstdio>
#include <string_view>

#include "core/unicode_text.hpp"

namespace tallowmark::MSC {

namespace {

constexpr std::uint8_t sysExStart = 0xF0;
constexpr std::uint8_t sysExEnd = 0xF7;
constexpr std::uint8_t universalRealTime = 0x7F;
constexpr std::uint8_t showControlSubID = 0x02;
// F0, 7F, device, 02, format, command; the fields start after these.
constexpr std::size_t headerBytes = 6;
// Cue number, cue list, cue path; a desk may send more, which mean nothing here.
constexpr std::size_t keptFields = 3;

const char* commandLabel(Command command) {
    switch (command) {
        case Command::go: return "GO";
        case Command::stop: return "STOP";
        case Command::resume: return "RESUME";
        case Command::timedGo: return "TIMED GO";
        case Command::load: return "LOAD";
        case Command::set: return "SET";
        case Command::fire: return "FIRE";
        case Command::allOff: return "ALL OFF";
        case Command::restore: return "RESTORE";
        case Command::reset: return "RESET";
        case Command::goOff: return "GO OFF";
    }
    return "?";
}

// Desks pad cue numbers with blanks and some send Latin-1; neither should
// stop a cue from being found by its number.
std::optional<std::string> fieldText(std::span<const std::uint8_t> raw) {
    if (raw.empty()) return std::nullopt;
    gchar* valid = g_utf8_make_valid(reinterpret_cast<const gchar*>(raw.data()), gssize(raw.size()));
    std::string text = trimText(valid, isSpaceOrTab);
    g_free(valid);
    if (text.empty()) return std::nullopt;
    return text;
}

void append(std::vector<std::uint8_t>& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

}  // namespace

std::optional<Command> commandFromByte(std::uint8_t byte) {
    if (byte < std::uint8_t(Command::go) || byte > std::uint8_t(Command::goOff)) return std::nullopt;
    return Command(byte);
}

std::optional<Message> decode(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < headerBytes) return std::nullopt;
    if (bytes[0] != sysExStart || bytes.back() != sysExEnd) return std::nullopt;
    if (bytes[1] != universalRealTime || bytes[3] != showControlSubID) return std::nullopt;
    const auto command = commandFromByte(bytes[5]);
    if (!command) return std::nullopt;

    Message message;
    message.deviceID = bytes[2];
    message.format = bytes[4];
    message.command = *command;

    // A six-byte input has F7 at offset 5, so there is no data span at all.
    const std::span<const std::uint8_t> data =
        bytes.size() > headerBytes ? bytes.subspan(headerBytes, bytes.size() - headerBytes - 1)
                                   : std::span<const std::uint8_t>{};
    std::array<std::span<const std::uint8_t>, keptFields> fields{};
    std::size_t fieldCount = 0;
    std::size_t fieldStart = 0;
    for (std::size_t i = 0; i <= data.size() && fieldCount < keptFields; ++i) {
        const bool atEnd = i == data.size();
        if (!atEnd && data[i] != 0x00) continue;
        // A 00 closes even an empty field, so "5" 00 00 "9" puts "9" in the path;
        // the end closes only a field that has bytes.
        if (!atEnd || i > fieldStart) fields[fieldCount++] = data.subspan(fieldStart, i - fieldStart);
        fieldStart = i + 1;
    }
    std::array<std::optional<std::string>*, keptFields> targets{&message.cue, &message.list, &message.path};
    for (std::size_t f = 0; f < fieldCount; ++f) *targets[f] = fieldText(fields[f]);
    return message;
}

std::vector<std::uint8_t> encode(const Message& message) {
    std::vector<std::uint8_t> out{sysExStart,     universalRealTime, message.deviceID, showControlSubID,
                                  message.format, std::uint8_t(message.command)};
    // Fields are positional: a list only means something after a cue, a path after a list.
    if (message.cue) {
        append(out, *message.cue);
        if (message.list) {
            out.push_back(0x00);
            append(out, *message.list);
            if (message.path) {
                out.push_back(0x00);
                append(out, *message.path);
            }
        }
    }
    out.push_back(sysExEnd);
    return out;
}

std::string formatLabel(std::uint8_t format) {
    switch (format) {
        case 0x01: return "Lighting";
        case 0x02: return "Moving Lights";
        case 0x10: return "Sound";
        case 0x30: return "Video";
        case 0x40: return "Projection";
        case 0x50: return "Process Control";
        case 0x7F: return "All-types";
        default: break;
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", unsigned(format));
    return hex;
}

std::string Message::summary() const {
    std::string line = "MSC ";
    line += commandLabel(command);
    if (cue) line += " cue " + *cue;
    if (list) line += " list " + *list;
    line += "  [dev ";
    line += deviceID == allCallDevice ? std::string("all") : std::to_string(deviceID);
    line += ", " + formatLabel(format) + "]";
    return line;
}

}  // namespace tallowmark::MSC
