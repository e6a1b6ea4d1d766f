#include "control/midi_listener.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "core/main_queue.hpp"

namespace tallowmark {
namespace {

std::size_t threadCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++count;
    return count;
}

// Waits for `done` without making the time part of the verdict: the limit only
// keeps a broken build from hanging the run.
template <class Condition>
bool eventually(Condition done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct Pipe {
    int read = -1, write = -1;
    Pipe() {
        int fds[2];
        if (pipe(fds) == 0) read = fds[0], write = fds[1];
    }
    ~Pipe() {
        if (read >= 0) close(read);
        if (write >= 0) close(write);
    }
    void closeWriteEnd() {
        close(write);
        write = -1;
    }
};

// The listener's loop on a pipe standing in for the sequencer: input reaches
// the reader, and a stop while the thread sits in its wait joins it.
TEST(MIDIInputThread, ReadsInputAndStopsFromItsWaitOrWhenItsDescriptorHangsUp) {
    const std::size_t before = threadCount();
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        Pipe pipe;
        ASSERT_GE(pipe.read, 0);
        std::atomic<int> received = 0;
        InputThread input;
        ASSERT_TRUE(input.start({pipe.read}, [&] {
            char bytes[16];
            const ssize_t n = ::read(pipe.read, bytes, sizeof bytes);
            if (n > 0) received += static_cast<int>(n);
        }));
        EXPECT_FALSE(input.start({pipe.read}, [] {}));  // one thread per start
        ASSERT_EQ(::write(pipe.write, "\x90\x24\x64", 3), 3);
        ASSERT_TRUE(eventually([&] { return received == 3; }));
        EXPECT_EQ(threadCount(), before + 1);
        // Nothing more to read: the thread is back in its wait when stopped.
        input.stop();
        EXPECT_FALSE(input.waiting());
        EXPECT_EQ(threadCount(), before);
        input.stop();  // a second stop is nothing
    }
    InputThread never;
    never.stop();

    // A descriptor that hangs up ends the wait instead of waking it for ever, and the thread still joins.
    Pipe pipe;
    std::atomic<int> calls = 0;
    {
        InputThread input;
        ASSERT_TRUE(input.start({pipe.read}, [&] { ++calls; }));
        pipe.closeWriteEnd();
        ASSERT_TRUE(eventually([&] { return !input.waiting(); }));
        EXPECT_EQ(calls, 0);
    }
    EXPECT_EQ(threadCount(), before);
}

// Without a sequencer (as on build machines) a listener starts no thread; made
// and destroyed again and again it leaves none behind, and events it posted
// before it went are dropped rather than run on a dead listener.
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
    EXPECT_EQ(threadCount(), before);
}

}  // namespace
}  // namespace tallowmark
