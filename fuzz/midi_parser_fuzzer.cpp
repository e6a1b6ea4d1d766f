// Raw bytes from any MIDI source, cut into packets anywhere. Whatever arrives,
// the parser must hand on only well-formed, bounded SysEx and in-range notes.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "control/midi_byte_parser.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tallowmark::MIDIByteParser parser;
    parser.onNoteOn = [](int note, int velocity, int channel) {
        if (note < 0 || note > 127 || velocity < 1 || velocity > 127 || channel < 0 || channel > 15) std::abort();
    };
    parser.onSysEx = [](const std::vector<std::uint8_t>& message) {
        if (message.size() < 2 || message.size() > tallowmark::MIDIByteParser::maxSysExBytes + 1) std::abort();
        if (message.front() != 0xF0 || message.back() != 0xF7) std::abort();
        // Between its ends a delivered SysEx holds data bytes only.
        for (std::size_t i = 1; i + 1 < message.size(); ++i)
            if (message[i] >= 0x80) std::abort();
    };

    // The first byte says how many packet lengths follow; each length byte
    // cuts the next packet (0 is an empty packet), the rest is one last packet.
    std::span<const std::uint8_t> input(data, size);
    if (input.empty()) return 0;
    std::size_t lengths = input[0] % 16;
    input = input.subspan(1);
    if (lengths > input.size()) lengths = input.size();
    const auto cuts = input.first(lengths);
    std::span<const std::uint8_t> stream = input.subspan(lengths);
    for (const std::uint8_t cut : cuts) {
        const std::size_t n = cut < stream.size() ? cut : stream.size();
        parser.parse(stream.first(n));
        stream = stream.subspan(n);
    }
    parser.parse(stream);
    return 0;
}
