#pragma once

// MIDI input over the ALSA sequencer: a client "TALLOWMARK" with the input
// port "TALLOWMARK In", subscribed to every readable port of the machine and
// following ports that appear later. Sequencer events become raw MIDI bytes
// again and go through MIDIByteParser; note-ons, MSC messages and other SysEx
// reach the main thread through the callbacks.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "control/msc.hpp"

namespace tallowmark {

// A thread that waits for input on a few descriptors and can always be
// stopped: it also waits on an eventfd that stop() writes, so stopping never
// depends on input arriving. The MIDI listener's input loop, kept apart from
// the sequencer so that any descriptor can drive it.
class InputThread {
public:
    InputThread() = default;
    ~InputThread() { stop(); }
    InputThread(const InputThread&) = delete;
    InputThread& operator=(const InputThread&) = delete;

    // Calls `ready` on a new thread whenever one of `descriptors` has input;
    // `ready` reads it (input left unread calls it again). A descriptor that
    // fails or hangs up ends the wait. False, with no thread, when already
    // started or when the wake-up descriptor or the thread cannot be made.
    bool start(std::vector<int> descriptors, std::function<void()> ready);
    // Wakes the thread and joins it; nothing when not started. Never from `ready`.
    void stop();
    // False once the wait has ended by itself (a failed descriptor) or by stop().
    bool waiting() const { return waiting_.load(); }

private:
    void run(const std::vector<int>& descriptors, const std::function<void()>& ready);

    int wake_ = -1;
    std::atomic<bool> waiting_ = false;
    std::thread thread_;
};

class MIDIListener {
public:
    // Process-wide; stopped and joined when the process exits.
    static MIDIListener& shared();

    // Destroy on the main thread: events already posted are dropped there.
    MIDIListener();
    ~MIDIListener();
    MIDIListener(const MIDIListener&) = delete;
    MIDIListener& operator=(const MIDIListener&) = delete;

    // All three are called on the main thread, in arrival order.
    std::function<void(int note, int velocity, int channel)> onNoteOn;
    std::function<void(const MSC::Message& message)> onMSC;
    std::function<void(const std::vector<std::uint8_t>& bytes)> onRawSysEx;

    // Opens the sequencer once; a failure is logged and not retried until a stop().
    void start();
    // Ends the input thread (joined before this returns) and closes the sequencer.
    void stop();
    // Names of the ports currently connected to our input.
    std::vector<std::string> sourceNames() const;

    // Parses one packet of raw MIDI bytes as if it had come from a source, on
    // the calling thread (used for sources that are not sequencer ports, and
    // by tests). Events are posted to the main thread like any other.
    void deliverPacket(std::span<const std::uint8_t> bytes);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tallowmark
