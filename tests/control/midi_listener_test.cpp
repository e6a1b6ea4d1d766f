// The listener's thread and lifetime, and MIDI bytes through it into the hub and the engine; the hub's own rules are
// in control_hub_test.
#include "control/midi_listener.hpp"

#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "../cues/cue_fixtures.hpp"
#include "control/control_hub.hpp"
#include "core/main_queue.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

std::size_t threadCount() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return std::size_t(std::distance(begin(tasks), end(tasks)));
}

// A joined thread's entry may stay in /proc a moment after the join returns, on a busy machine.
bool threadsBackTo(std::size_t count) {
    return testing::pumpMainUntil([&] { return threadCount() == count; }, 2000);
}

// The listener's loop on a pipe standing in for the sequencer: input reaches the reader, a stop while the thread sits
// in its wait joins it, and a descriptor that hangs up ends the wait instead of waking it for ever.
TEST(MIDIInputThread, ReadsInputAndStopsFromItsWaitOrWhenItsDescriptorHangsUp) {
    const std::size_t before = threadCount();
    for (int round = 0; round < 21; ++round) {
        SCOPED_TRACE(round);
        const bool hangUp = round == 20;
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        std::atomic<int> received = 0, calls = 0;
        {
            InputThread input;
            ASSERT_TRUE(input.start({fds[0]}, [&] {
                char bytes[16];
                if (const ssize_t n = ::read(fds[0], bytes, sizeof bytes); n > 0) received += int(n);
                ++calls;
            }));
            EXPECT_FALSE(input.start({fds[0]}, [] {}));  // one thread per start
            if (hangUp) {
                close(fds[1]);
                ASSERT_TRUE(testing::pumpMainUntil([&] { return !input.waiting(); }, 20000));
                EXPECT_EQ(calls, 0);
            } else {
                ASSERT_EQ(::write(fds[1], "\x90\x24\x64", 3), 3);
                ASSERT_TRUE(testing::pumpMainUntil([&] { return received == 3; }, 20000));
                EXPECT_EQ(threadCount(), before + 1);
                input.stop();  // nothing more to read: the thread is back in its wait
                EXPECT_FALSE(input.waiting());
                EXPECT_TRUE(threadsBackTo(before));
                input.stop();  // a second stop is nothing
                close(fds[1]);
            }
        }
        close(fds[0]);
        EXPECT_TRUE(threadsBackTo(before));
    }
    InputThread never;
    never.stop();
}

// Without a sequencer (as on build machines) a listener starts no thread; made and destroyed again and again it
// leaves none behind, and events it posted before it went are dropped rather than run on a dead listener.
TEST(MIDIListenerLifetime, DestroyedListenersLeaveNoThreadOrLiveEvent) {
    const std::size_t before = threadCount();
    int notes = 0;
    for (int round = 0; round < 20; ++round) {
        MIDIListener listener;
        listener.onNoteOn = [&](int, int, int) { ++notes; };
        listener.start();
        listener.deliverPacket(std::vector<std::uint8_t>{0x90, 36, 100});
        if (round == 0) {
            drainMainQueue();
            EXPECT_EQ(notes, 1);  // a live listener's events do arrive
        }
        listener.stop();
        listener.start();  // a stop allows a new start
    }
    drainMainQueue();
    EXPECT_EQ(notes, 1);
    EXPECT_TRUE(threadsBackTo(before));
}

TEST(MidiPath, MSCAndNotesThroughTheListenerReachTheEngine) {
    CueEngine engine, second;
    testing::EngineAccess::loadFromMemory(engine, testing::sidecarWithCues(3));
    testing::EngineAccess::loadFromMemory(second, testing::sidecarWithCues(3));
    SettingsStore store{true};
    // The program's MIDI transport alone; with no sequencer on build machines it logs that, and still parses
    // delivered bytes.
    auto hub = ControlHub::create(engine, store, {nullptr, systemControlTransports().midi});
    hub->start();
    MIDIListener& midi = MIDIListener::shared();
    midi.deliverPacket(std::vector<std::uint8_t>{0xF0, 0x7F, 0x05, 0x02, 0x01, 0x01, '3', 0xF7});  // MSC GO cue 3
    ASSERT_TRUE(testing::pumpMainUntil([&] { return engine.fired().contains("c3"); }));
    midi.deliverPacket(std::vector<std::uint8_t>{0xF0, 0x43, 0x10, 0x00, 0xF7});
    ASSERT_TRUE(testing::pumpMainUntil([&] { return hub->log().back().text == "SysEx (ei MSC): F0 43 10 00 F7"; }));

    // A hub started later takes the listener over; the earlier one going away leaves it heard, and once it goes too,
    // nothing is routed anywhere.
    auto next = ControlHub::create(second, store, {nullptr, systemControlTransports().midi});
    next->start();
    hub.reset();
    midi.deliverPacket(std::vector<std::uint8_t>{0x90, 36, 100});
    ASSERT_TRUE(testing::pumpMainUntil([&] { return second.fired().size() == 1; }));
    next.reset();
    EXPECT_FALSE(midi.onNoteOn);
    EXPECT_EQ(engine.fired().size(), 1u) << "the note went to the later hub only";
}

}  // namespace
}  // namespace tallowmark
