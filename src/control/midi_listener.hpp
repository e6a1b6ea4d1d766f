#pragma once

// MIDI input over the ALSA sequencer: a client "TALLOWMARK" with the input
// port "TALLOWMARK In", subscribed to every readable port of the machine and
// following ports that appear later. Sequencer events become raw MIDI bytes
// again and go through MIDIByteParser; note-ons, MSC messages and other SysEx
// reach the main thread through the callbacks.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "control/msc.hpp"

namespace tallowmark {

class MIDIListener {
public:
    // Process-wide; lives until the process ends.
    static MIDIListener& shared();

    // All three are called on the main thread, in arrival order.
    std::function<void(int note, int velocity, int channel)> onNoteOn;
    std::function<void(const MSC::Message& message)> onMSC;
    std::function<void(const std::vector<std::uint8_t>& bytes)> onRawSysEx;

    // Opens the sequencer once; a failure is logged and not retried.
    void start();
    // Names of the ports currently connected to our input.
    std::vector<std::string> sourceNames() const;

    // Parses one packet of raw MIDI bytes as if it had come from a source, on
    // the calling thread (used for sources that are not sequencer ports, and
    // by tests). Events are posted to the main thread like any other.
    void deliverPacket(std::span<const std::uint8_t> bytes);

private:
    MIDIListener();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tallowmark
