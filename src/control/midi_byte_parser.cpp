#include "control/midi_byte_parser.hpp"

namespace tallowmark {

namespace {

constexpr std::uint8_t sysExStart = 0xF0;
constexpr std::uint8_t sysExEnd = 0xF7;
constexpr std::uint8_t firstRealTime = 0xF8;
constexpr std::uint8_t noteOnStatus = 0x90;
constexpr std::uint8_t dataMask = 0x7F;

bool isStatus(std::uint8_t b) { return b >= 0x80; }

}  // namespace

void MIDIByteParser::parse(std::span<const std::uint8_t> packet) {
    std::size_t i = 0;
    while (i < packet.size()) {
        const std::uint8_t b = packet[i];

        if (!sysexBuffer_.empty()) {
            // Clock and other real-time bytes may be interleaved anywhere, even
            // inside a SysEx; they must not break it.
            if (b >= firstRealTime) {
                ++i;
                continue;
            }
            if (b == sysExEnd) {
                sysexBuffer_.push_back(b);
                std::vector<std::uint8_t> message;
                message.swap(sysexBuffer_);
                if (onSysEx) onSysEx(message);
                ++i;
                continue;
            }
            if (!isStatus(b)) {
                // Bounded so a sender that never ends its SysEx cannot grow us
                // without limit; the rest of it falls through as loose data.
                const bool full = sysexBuffer_.size() >= maxSysExBytes;
                sysexBuffer_.push_back(b);
                if (full) sysexBuffer_.clear();
                ++i;
                continue;
            }
            // Any other status byte ends the SysEx unfinished and is itself
            // handled below, so a note-on right after a broken SysEx is heard.
            sysexBuffer_.clear();
        }

        if (b == sysExStart) {
            sysexBuffer_.push_back(b);
            ++i;
            continue;
        }
        if ((b & 0xF0) == noteOnStatus && packet.size() - i > 2) {
            const int note = packet[i + 1] & dataMask;
            const int velocity = packet[i + 2] & dataMask;
            const int channel = b & 0x0F;
            i += 3;
            // Velocity 0 is the usual way of sending a note-off.
            if (velocity > 0 && onNoteOn) onNoteOn(note, velocity, channel);
            continue;
        }
        ++i;
    }
}

}  // namespace tallowmark
