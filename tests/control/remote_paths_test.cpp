// Whole remote-control paths through the program's transports: real UDP
// datagrams from liblo's oscsend and raw sockets through the server and the hub
// into the engine, and MIDI bytes through the listener's parser. The hub's own
// rules are in control_hub_test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "../cues/cue_fixtures.hpp"
#include "control/control_hub.hpp"
#include "control/midi_listener.hpp"
#include "core/main_queue.hpp"
#include "udp_peer.hpp"

namespace tallowmark {
namespace {

using testing::pumpMainUntil;

class RemotePaths : public ::testing::Test {
protected:
    void SetUp() override {
        Settings s;
        s.oscPort = port;
        store.setSettings(s);
        testing::EngineAccess::loadFromMemory(engine, testing::sidecarWithCues(20));
        hub = ControlHub::create(engine, store, systemControlTransports());
        hub->start();
        ASSERT_TRUE(pumpMainUntil([&] { return hub->status()["oscListening"] == true; }));
    }
    void TearDown() override { drainMainQueue(); }

    long logged(const std::string& text) const {
        return std::count_if(hub->log().begin(), hub->log().end(), [&](const LogEntry& e) { return e.text == text; });
    }
    void oscsend(const std::string& arguments) {
        const std::string command = "oscsend 127.0.0.1 " + std::to_string(port) + " " + arguments;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    const std::uint16_t port = testing::freePort();
    CueEngine engine;
    SettingsStore store{true};
    std::shared_ptr<ControlHub> hub;
};

TEST_F(RemotePaths, OscsendDrivesTheEngine) {
    EXPECT_EQ(logged("OSC kuuntelee porttia " + std::to_string(port)), 1);
    oscsend("/go");
    ASSERT_TRUE(pumpMainUntil([&] { return engine.fired().contains("c1"); }));
    oscsend("/go f 5.0");
    ASSERT_TRUE(pumpMainUntil([&] { return engine.fired().contains("c5"); }));
    oscsend("/standby s 9");
    ASSERT_TRUE(pumpMainUntil([&] { return engine.standbyID() == "c9"; }));
    oscsend("/go N");  // nil is no cue number: plain GO
    ASSERT_TRUE(pumpMainUntil([&] { return engine.fired().contains("c9"); }));

    const LogEntry& first = hub->log()[1];
    EXPECT_EQ(first.text, "/go");
    EXPECT_TRUE(first.source.starts_with("osc 127.0.0.1:")) << first.source;
}

TEST(MidiPath, MSCAndNotesThroughTheListenerReachTheEngine) {
    CueEngine engine;
    CueSidecar sidecar = testing::sidecarWithCues(3);
    sidecar.cues[2].number = "12.5";
    testing::EngineAccess::loadFromMemory(engine, sidecar);
    SettingsStore store{true};
    // The program's MIDI transport alone; no sequencer on build machines: logged,
    // and MIDI still parses delivered bytes.
    auto hub = ControlHub::create(engine, store, {nullptr, systemControlTransports().midi});
    hub->start();
    MIDIListener& midi = MIDIListener::shared();

    // MSC GO cue "12.5", split over two packets with a clock byte inside.
    midi.deliverPacket(std::vector<std::uint8_t>{0xF0, 0x7F, 0x05, 0x02, 0x01, 0x01, '1', 0xF8, '2'});
    midi.deliverPacket(std::vector<std::uint8_t>{'.', '5', 0xF7});
    ASSERT_TRUE(pumpMainUntil([&] { return engine.fired().contains("c3"); }));

    midi.deliverPacket(std::vector<std::uint8_t>{0x90, 36, 100});  // note 36 is bound to "go"
    ASSERT_TRUE(pumpMainUntil([&] { return engine.fired().size() == 2; }));
    EXPECT_EQ(hub->log().back().source, "midi ch1 n36");

    midi.deliverPacket(std::vector<std::uint8_t>{0xF0, 0x43, 0x10, 0x00, 0xF7});
    ASSERT_TRUE(pumpMainUntil([&] { return hub->log().back().text == "SysEx (ei MSC): F0 43 10 00 F7"; }));

    // A hub started later takes the listener over; the earlier one going away
    // leaves it heard, and once it goes too, nothing is routed anywhere.
    CueEngine second;
    testing::EngineAccess::loadFromMemory(second, sidecar);
    auto next = ControlHub::create(second, store, {nullptr, systemControlTransports().midi});
    next->start();
    hub.reset();
    midi.deliverPacket(std::vector<std::uint8_t>{0x90, 36, 100});
    ASSERT_TRUE(pumpMainUntil([&] { return second.fired().size() == 1; }));
    next.reset();
    EXPECT_FALSE(midi.onNoteOn);
    EXPECT_EQ(engine.fired().size(), 2u);
}

}  // namespace
}  // namespace tallowmark
