#pragma once

// Turns raw MIDI bytes, packet by packet, into note-ons and complete SysEx
// messages. A SysEx may span packets; channel messages must sit whole in one
// packet (running status is not followed). Used on the MIDI input thread only;
// the callbacks run there too, inside parse().

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace tallowmark {

class MIDIByteParser {
public:
    // A SysEx longer than this before its F7 (F0 included) is dropped.
    static constexpr std::size_t maxSysExBytes = 1024;

    // Note-on with velocity above 0; channel 0..15.
    std::function<void(int note, int velocity, int channel)> onNoteOn;
    // A complete SysEx, F0 through F7.
    std::function<void(const std::vector<std::uint8_t>& message)> onSysEx;

    void parse(std::span<const std::uint8_t> packet);

private:
    std::vector<std::uint8_t> sysexBuffer_;  // begins with F0; empty when none is in progress
};

}  // namespace tallowmark
