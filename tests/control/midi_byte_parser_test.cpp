#include "control/midi_byte_parser.hpp"

#include <gtest/gtest.h>

#include <tuple>

#include "control/msc.hpp"

namespace tallowmark {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Note = std::tuple<int, int, int>;  // note, velocity, channel

// F0, `data` bytes counting 00..7F, F7.
Bytes sysexOf(std::size_t data) {
    Bytes bytes{0xF0};
    for (std::size_t i = 0; i < data; ++i) bytes.push_back(std::uint8_t(i & 0x7F));
    bytes.push_back(0xF7);
    return bytes;
}

// What a fresh parser makes of `packets`, fed one by one.
std::pair<std::vector<Note>, std::vector<Bytes>> parsed(const std::vector<Bytes>& packets) {
    std::vector<Note> notes;
    std::vector<Bytes> sysex;
    MIDIByteParser parser;
    parser.onNoteOn = [&](int note, int velocity, int channel) { notes.emplace_back(note, velocity, channel); };
    parser.onSysEx = [&](const Bytes& message) { sysex.push_back(message); };
    for (const Bytes& packet : packets) parser.parse(packet);
    return {notes, sysex};
}

TEST(MIDIParser, PacketsGiveTheirNoteOnsAndWholeSysEx) {
    const Bytes msc = MSC::encode({5, 0x01, MSC::Command::go, "12.5", "3", {}});
    const Bytes tail{0x90, 0x3C, 0x64, 0xF0, 0x11, 0xF7};  // what follows a dropped SysEx is parsed afresh
    const auto split = [&](const Bytes& bytes, std::size_t size) {
        std::vector<Bytes> packets;
        for (std::size_t at = 0; at < bytes.size(); at += size)
            packets.emplace_back(bytes.begin() + at, bytes.begin() + std::min(bytes.size(), at + size));
        packets.push_back(tail);
        return packets;
    };
    const Bytes longest = sysexOf(MIDIByteParser::maxSysExBytes - 1);  // 1,025 bytes with F0 and F7
    const struct {
        const char* what;
        std::vector<Bytes> packets;
        std::vector<Note> notes;
        std::vector<Bytes> sysex = {};
    } cases[] = {
        {"note-on, channel 4", {{0x93, 0x3C, 0x64}}, {{60, 100, 3}}},
        {"velocity 0 is a note-off", {{0x90, 0x3C, 0x00}}, {}},
        {"top bits cleared", {{0x9F, 0xBC, 0xE4}}, {{0x3C, 0x64, 15}}},
        {"cut off at the packet end", {{0x90, 0x3C}, {0x64}}, {}},
        {"running status not followed", {{0x90, 0x3C, 0x64, 0x3E, 0x64}}, {{60, 100, 0}}},
        // 0 B0 07 64 controller, 3 80 3C 40 note-off, 6 C0 program (its data byte at 7), 8 91 40 7F
        {"others skipped", {{0xB0, 0x07, 0x64, 0x80, 0x3C, 0x40, 0xC0, 0x05, 0x91, 0x40, 0x7F}}, {{64, 127, 1}}},
        {"a stray F7 and loose data", {{0xF7, 0x3C, 0x64}, {}, {0x90, 0x01, 0x02}}, {{1, 2, 0}}},
        {"SysEx across packets", split(msc, 4), {{60, 100, 0}}, {msc, {0xF0, 0x11, 0xF7}}},
        // 0 F0, 1 F8 clock, 2 01, 3 FE active sensing | 0 FF, 1 02, 2 F7, 3 90 3C 64 after it
        {"real-time bytes inside a SysEx", {{0xF0, 0xF8, 0x01, 0xFE}, {0xFF, 0x02, 0xF7, 0x90, 0x3C, 0x64}},
         {{60, 100, 0}}, {{0xF0, 0x01, 0x02, 0xF7}}},
        // 0 F0 01 02, 3 93 3C 64 interrupts | 0 03 F7 the remains, ignored
        {"a status byte abandons the SysEx and is handled", {{0xF0, 0x01, 0x02, 0x93, 0x3C, 0x64}, {0x03, 0xF7}},
         {{60, 100, 3}}},
        {"F0 inside a SysEx starts afresh", {{0xF0, 0x01, 0xF0, 0x02, 0xF7}}, {}, {{0xF0, 0x02, 0xF7}}},
        {"300 bytes", split(sysexOf(298), 100), {{60, 100, 0}}, {sysexOf(298), {0xF0, 0x11, 0xF7}}},
        {"the longest kept", split(longest, 100), {{60, 100, 0}}, {longest, {0xF0, 0x11, 0xF7}}},
        {"one byte over the bound", split(sysexOf(MIDIByteParser::maxSysExBytes), 100), {{60, 100, 0}},
         {{0xF0, 0x11, 0xF7}}},
        {"far over", split(sysexOf(1098), 100), {{60, 100, 0}}, {{0xF0, 0x11, 0xF7}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(parsed(c.packets), std::pair(c.notes, c.sysex));
    }
    // The packet is a view into a longer buffer: the velocity beyond its end is not ours.
    MIDIByteParser parser;
    const Bytes buffer{0x90, 0x3C, 0x64};
    parser.onNoteOn = [](int, int, int) { ADD_FAILURE() << "a note-on from two bytes"; };
    parser.parse(std::span(buffer).first(2));
    MIDIByteParser silent;  // no callbacks set
    silent.parse(sysexOf(10));
    silent.parse(buffer);
}

}  // namespace
}  // namespace tallowmark
