// Whole remote-control paths: real UDP datagrams from liblo's oscsend and raw
// sockets through the server and the hub into the engine, and MIDI bytes
// through the listener's parser.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "../cues/cue_fixtures.hpp"
#include "control/control_hub.hpp"
#include "control/midi_listener.hpp"
#include "core/main_queue.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::pumpMainUntil;

std::uint16_t freeUdpPort() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

class RemotePaths : public ::testing::Test {
protected:
    void SetUp() override {
        port = freeUdpPort();
        Settings s;
        s.oscPort = port;
        store.setSettings(s);
        engine.loadFromMemoryForTesting(testing::sidecarWithCues(20));
        hub = ControlHub::create(engine, store);
        hub->start();
        ASSERT_TRUE(pumpMainUntil([&] { return hub->status()["oscListening"] == true; }));
    }
    void TearDown() override { drainMainQueue(); }

    bool lineLogged(const std::string& text) const {
        for (const LogEntry& e : hub->log()) {
            if (e.text == text) return true;
        }
        return false;
    }
    void oscsend(const std::string& arguments) {
        const std::string command = "oscsend 127.0.0.1 " + std::to_string(port) + " " + arguments;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    std::uint16_t port = 0;
    CueEngine engine;
    SettingsStore store{true};
    std::shared_ptr<ControlHub> hub;
};

TEST_F(RemotePaths, OscsendDrivesTheEngine) {
    EXPECT_TRUE(lineLogged("OSC kuuntelee porttia " + std::to_string(port)));
    oscsend("/go");
    ASSERT_TRUE(pumpMainUntil([&] { return engine.fired().contains("c1"); }));
    oscsend("/tallowmark/cue/12/go");
    ASSERT_TRUE(pumpMainUntil([&] { return engine.fired().contains("c12"); }));
    EXPECT_EQ(engine.standbyID(), "c13");
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

TEST_F(RemotePaths, RestartFollowsTheSettings) {
    Settings s = store.settings();
    s.oscEnabled = false;
    store.setSettings(s);
    hub->restartOSC();
    EXPECT_EQ(hub->status()["oscListening"], false);
    EXPECT_TRUE(lineLogged("OSC pois kaytosta"));

    // A port that is taken reports the system's error text.
    int blocker = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::uint16_t taken = freeUdpPort();
    address.sin_port = htons(taken);
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    s.oscEnabled = true;
    s.oscPort = taken;
    store.setSettings(s);
    hub->restartOSC();
    ASSERT_TRUE(pumpMainUntil([&] { return !hub->status()["oscError"].get<std::string>().empty(); }));
    EXPECT_TRUE(lineLogged("OSC ei kaynnisty portissa " + std::to_string(taken) + ": Address already in use"));
    close(blocker);
}

TEST_F(RemotePaths, FloodIsLimitedAndAGoAfterItIsObeyed) {
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(port);
        const auto datagram = OSCCodec::encode(OSCMessage{"/flood", {}});
        // About 10,000 datagrams a second.
        while (flooding) {
            for (int i = 0; i < 100; ++i) {
                sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        close(fd);
    });
    const gint64 end = g_get_monotonic_time() + 3 * G_USEC_PER_SEC;
    pumpMainUntil([&] { return g_get_monotonic_time() > end; }, 5000);
    flooding = false;
    flood.join();
    pumpMainUntil([] { return false; }, 300);  // let the tail of the flood drain

    int admitted = 0, overflowLines = 0;
    for (const LogEntry& e : hub->log()) {
        admitted += e.text == "/flood";
        overflowLines += e.text == "yli 50 komentoa/s - ylimaaraiset pudotetaan";
    }
    EXPECT_GE(overflowLines, 3);
    EXPECT_LE(overflowLines, 5);
    EXPECT_LE(admitted, 50 * (overflowLines + 1));

    g_usleep(1'100'000);  // a fresh rate-limit window
    oscsend("/go");
    EXPECT_TRUE(pumpMainUntil([&] { return engine.fired().contains("c1"); }));
}

TEST(MidiPath, MSCAndNotesThroughTheListenerReachTheEngine) {
    CueEngine engine;
    CueSidecar sidecar = testing::sidecarWithCues(3);
    sidecar.cues[2].number = "12.5";
    engine.loadFromMemoryForTesting(sidecar);
    SettingsStore store{true};
    auto hub = ControlHub::create(engine, store);
    hub->start();  // no sequencer on build machines: logged, MIDI still parses delivered bytes
    MIDIListener& midi = MIDIListener::shared();

    // MSC GO cue "12.5", split over two packets with a clock byte inside.
    const std::vector<std::uint8_t> first = {0xF0, 0x7F, 0x05, 0x02, 0x01, 0x01, '1', 0xF8, '2'};
    const std::vector<std::uint8_t> second = {'.', '5', 0xF7};
    midi.deliverPacket(first);
    midi.deliverPacket(second);
    ASSERT_TRUE(pumpMainUntil([&] { return engine.fired().contains("c3"); }));

    midi.deliverPacket(std::vector<std::uint8_t>{0x90, 36, 100});  // note 36 is bound to "go"
    ASSERT_TRUE(pumpMainUntil([&] { return engine.fired().size() == 2; }));
    EXPECT_EQ(hub->log().back().source, "midi ch1 n36");

    midi.deliverPacket(std::vector<std::uint8_t>{0xF0, 0x43, 0x10, 0x00, 0xF7});
    ASSERT_TRUE(pumpMainUntil([&] { return hub->log().back().text == "SysEx (ei MSC): F0 43 10 00 F7"; }));
}

}  // namespace
}  // namespace tallowmark
