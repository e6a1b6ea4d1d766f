#include "control/midi_byte_parser.hpp"

#include <gtest/gtest.h>

#include <tuple>

#include "control/msc.hpp"

namespace tallowmark {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Note = std::tuple<int, int, int>;  // note, velocity, channel

class MIDIParser : public ::testing::Test {
protected:
    MIDIParser() {
        parser.onNoteOn = [this](int note, int velocity, int channel) { notes.emplace_back(note, velocity, channel); };
        parser.onSysEx = [this](const Bytes& message) { sysex.push_back(message); };
    }
    void feed(const std::vector<Bytes>& packets) {
        for (const auto& packet : packets) parser.parse(packet);
    }
    // F0, `data` bytes counting 00..7F, F7.
    static Bytes sysexOf(std::size_t data) {
        Bytes bytes{0xF0};
        for (std::size_t i = 0; i < data; ++i) bytes.push_back(std::uint8_t(i & 0x7F));
        bytes.push_back(0xF7);
        return bytes;
    }
    static std::vector<Bytes> split(const Bytes& bytes, std::size_t size) {
        std::vector<Bytes> packets;
        for (std::size_t at = 0; at < bytes.size(); at += size)
            packets.emplace_back(bytes.begin() + at, bytes.begin() + std::min(bytes.size(), at + size));
        return packets;
    }

    MIDIByteParser parser;
    std::vector<Note> notes;
    std::vector<Bytes> sysex;
};

TEST_F(MIDIParser, NoteOnsNeedStatusAndBothDataBytesInOnePacket) {
    const struct {
        const char* what;
        std::vector<Bytes> packets;
        std::vector<Note> expected;
    } cases[] = {
        {"note-on, channel 4", {{0x93, 0x3C, 0x64}}, {{60, 100, 3}}},
        {"velocity 0 is a note-off", {{0x90, 0x3C, 0x00}}, {}},
        {"top bits cleared", {{0x9F, 0xBC, 0xE4}}, {{0x3C, 0x64, 15}}},
        {"cut off at the packet end", {{0x90, 0x3C}, {0x64}}, {}},
        {"running status not followed", {{0x90, 0x3C, 0x64, 0x3E, 0x64}}, {{60, 100, 0}}},
        // 0 B0 07 64 controller, 3 80 3C 40 note-off, 6 C0 program (its data byte at 7), 8 91 40 7F
        {"other messages skipped", {{0xB0, 0x07, 0x64, 0x80, 0x3C, 0x40, 0xC0, 0x05, 0x91, 0x40, 0x7F}}, {{64, 127, 1}}},
        {"a stray F7 and loose data", {{0xF7, 0x3C, 0x64}, {}, {0x90, 0x01, 0x02}}, {{1, 2, 0}}},
    };
    for (const auto& c : cases) {
        notes.clear();
        feed(c.packets);
        EXPECT_EQ(notes, c.expected) << c.what;
    }
    // The packet is a view into a longer buffer: the velocity beyond its end is not ours.
    const Bytes buffer{0x90, 0x3C, 0x64};
    notes.clear();
    parser.parse(std::span(buffer).first(2));
    EXPECT_TRUE(notes.empty());
}

TEST_F(MIDIParser, SysExIsReassembledAcrossPacketsPastRealTimeBytes) {
    const Bytes msc = MSC::encode({5, 0x01, MSC::Command::go, "12.5", "3", {}});
    feed(split(msc, 4));
    // 0 F0, 1 F8 clock, 2 01, 3 FE active sensing | 0 FF, 1 02, 2 F7, 3 90 3C 64 after it
    feed({{0xF0, 0xF8, 0x01, 0xFE}, {0xFF, 0x02, 0xF7, 0x90, 0x3C, 0x64}});
    EXPECT_EQ(sysex, (std::vector<Bytes>{msc, {0xF0, 0x01, 0x02, 0xF7}}));
    EXPECT_EQ(notes, (std::vector<Note>{{60, 100, 0}}));
}

TEST_F(MIDIParser, AStatusByteAbandonsTheSysExAndIsStillHandled) {
    // 0 F0 01 02, 3 93 3C 64 interrupts | 0 03 F7 the remains, ignored
    feed({{0xF0, 0x01, 0x02, 0x93, 0x3C, 0x64}, {0x03, 0xF7}});
    EXPECT_TRUE(sysex.empty());
    EXPECT_EQ(notes, (std::vector<Note>{{60, 100, 3}}));
    // 0 F0 01, 2 F0 starts afresh, 3 02 F7
    feed({{0xF0, 0x01, 0xF0, 0x02, 0xF7}});
    EXPECT_EQ(sysex, (std::vector<Bytes>{{0xF0, 0x02, 0xF7}}));
}

TEST_F(MIDIParser, SysExLongerThanTheBoundIsDropped) {
    // 298 + 2 = 300 bytes; 1,023 + 2 = 1,025, the longest delivered; 1,024 + 2 and 1,100 are dropped.
    for (const std::size_t data : {std::size_t(298), MIDIByteParser::maxSysExBytes - 1, MIDIByteParser::maxSysExBytes,
                                   std::size_t(1098)}) {
        sysex.clear();
        feed(split(sysexOf(data), 100));
        // What follows a dropped one is parsed afresh.
        feed({{0x90, 0x3C, 0x64}, {0xF0, 0x11, 0xF7}});
        const bool fits = data + 1 <= MIDIByteParser::maxSysExBytes;
        ASSERT_EQ(sysex.size(), fits ? 2u : 1u) << data << " data bytes";
        if (fits) {
            EXPECT_EQ(sysex[0], sysexOf(data));
        }
        EXPECT_EQ(sysex.back(), (Bytes{0xF0, 0x11, 0xF7}));
    }
    EXPECT_EQ(notes.size(), 4u);

    MIDIByteParser silent;  // no callbacks set
    silent.parse(sysexOf(10));
    silent.parse(Bytes{0x90, 0x3C, 0x64});
}

}  // namespace
}  // namespace tallowmark
