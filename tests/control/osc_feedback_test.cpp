// The show's state sent back over OSC: what the four messages say, how often a
// destination hears them (the newest state winning), the heartbeat, the answer
// to /tallowmark/state through the hub, and liblo's oscdump as a real receiver.

#include "control/osc_feedback.hpp"

#include <glib-unix.h>
#include <glib.h>
#include <signal.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include "../cues/cue_fixtures.hpp"
#include "control/control_hub.hpp"
#include "udp_peer.hpp"

namespace tallowmark {
namespace {

using testing::EngineAccess;
using testing::pumpMainUntil;

struct Sent {  // one datagram: where, and what it held
    std::string to;
    std::vector<OSCMessage> messages;
};

struct FeedbackUnderTest {
    CueEngine engine;
    std::vector<Sent> sent;
    OSCFeedback feedback{engine, [this](std::vector<std::uint8_t> datagram, const std::string& host, std::uint16_t port) {
                             sent.push_back({host + ":" + std::to_string(port), OSCCodec::decode(datagram)});
                         }};

    explicit FeedbackUnderTest(CueSidecar sidecar = testing::sidecarWithCues(4)) {
        EngineAccess::loadFromMemory(engine, std::move(sidecar));
    }
    void go() {
        engine.go("key");
        feedback.stateChanged();
    }
};

// The four messages as the run moves: standby with its type, the cue fired
// last, the next, the count; a label longer than a datagram should carry is cut
// between characters.
TEST(OSCFeedback, TheStateIsFourMessagesCutToFitADatagram) {
    CueSidecar sidecar = testing::sidecarWithCues(3);
    sidecar.cues[1].kind = "LX";
    for (int i = 0; i < 150; ++i) sidecar.cues[1].label += "\xc3\xa4";  // 300 bytes of two-byte letters
    FeedbackUnderTest f(sidecar);
    const std::string cut = std::string(sidecar.cues[1].label, 0, OSCFeedback::maxTextBytes);
    using Msgs = std::vector<OSCMessage>;
    const auto state = [](std::vector<OSCArgument> standby, std::vector<OSCArgument> fired,
                          std::vector<OSCArgument> next, int count) {
        return Msgs{{"/tallowmark/standby", standby}, {"/tallowmark/fired", fired}, {"/tallowmark/next", next},
                    {"/tallowmark/progress", {count, 3}}};
    };
    EXPECT_EQ(f.feedback.stateMessages(), state({"1", "L1", "SFX"}, {"", ""}, {"2", cut}, 0));
    f.engine.go("key");
    EXPECT_EQ(f.feedback.stateMessages(), state({"2", cut, "LX"}, {"1", "L1"}, {"3", "L3"}, 1));
    for (int i = 0; i < 2; ++i) f.engine.go("key");
    EXPECT_EQ(f.feedback.stateMessages(), state({"", "", ""}, {"3", "L3"}, {"", ""}, 3));
}

TEST(OSCFeedback, EachDestinationHearsAtMostTenBundlesASecondWithTheNewestState) {
    FeedbackUnderTest f;
    f.feedback.setDestinations({{"127.0.0.1", 9000}, {"10.0.0.8", 0}, {"", 9001}});
    ASSERT_EQ(f.sent.size(), 1u) << "a new destination hears the state at once; no port or host, nothing";
    EXPECT_EQ(f.sent[0].to, "127.0.0.1:9000");
    const gint64 start = g_get_monotonic_time();
    for (int i = 0; i < 3; ++i) f.go();
    EXPECT_EQ(f.sent.size(), 1u) << "inside the first tenth of a second: waits";
    ASSERT_TRUE(pumpMainUntil([&] { return f.sent.size() == 2; }));
    EXPECT_GE(g_get_monotonic_time() - start, 90'000);
    EXPECT_EQ(f.sent[1].messages[3].arguments, (std::vector<OSCArgument>{3, 4})) << "the newest state";
    pumpMainUntil([] { return false; }, 250);
    EXPECT_EQ(f.sent.size(), 2u) << "nothing more when nothing changed";

    // A peer that asks is answered at once, and shares the bound.
    f.feedback.answer("10.0.0.9", 7000);
    f.feedback.answer("10.0.0.9", 7000);
    ASSERT_EQ(f.sent.size(), 3u);
    EXPECT_EQ(f.sent[2].to, "10.0.0.9:7000");
    ASSERT_TRUE(pumpMainUntil([&] { return f.sent.size() == 4; }));

    // The heartbeat, to the operator's destinations only.
    f.sent.clear();
    ASSERT_TRUE(pumpMainUntil([&] { return !f.sent.empty(); }, 1500));
    EXPECT_EQ(f.sent[0].to, "127.0.0.1:9000");
    EXPECT_EQ(f.sent[0].messages, (std::vector<OSCMessage>{{"/tallowmark/heartbeat", {1}}}));
    f.feedback.setDestinations({});
    f.sent.clear();
    f.go();
    pumpMainUntil([] { return false; }, 1200);
    EXPECT_TRUE(f.sent.empty()) << "no destination: no bundle and no heartbeat";
}

// The whole way out: the hub hears /tallowmark/state and the answer leaves
// through the OSC client to the asker's port.
// The whole way out: the hub hears /tallowmark/state and the answer leaves
// through the OSC client to the asker's port.
TEST(OSCFeedback, AStateQueryIsAnsweredToTheAsker) {
    struct Wire final : ControlTransport {
        void start(const TransportOptions&) override {}
        void stop() override {}
    };
    FeedbackUnderTest f;
    OSCFeedback real(f.engine);
    SettingsStore store(true);
    auto owned = std::make_unique<Wire>();
    Wire* wire = owned.get();
    auto hub = ControlHub::create(f.engine, store, {std::move(owned), nullptr});
    hub->onStateQuery = [&](const std::string& host, std::uint16_t port) { real.answer(host, port); };
    std::vector<std::string> logged;
    hub->onLog = [&](const LogEntry& e) { logged.push_back(e.text); };
    hub->start();
    testing::RawPeer asker;
    wire->onMessage(OSCInput{OSCMessage{"/TALLOWMARK/state", {}}, asker.name()});
    EXPECT_EQ(asker.receive(3000), f.feedback.stateMessages());
    EXPECT_TRUE(logged.empty()) << "a panel asking every second does not fill the log";
}

TEST(OSCFeedback, OscdumpHearsTheStateOfEveryGo) {
    if (!g_find_program_in_path("oscdump")) GTEST_SKIP() << "liblo's oscdump is not installed";
    const std::string port = std::to_string(testing::freePort());
    const gchar* argv[] = {"oscdump", "-L", port.c_str(), nullptr};
    GPid pid = 0;
    gint out = -1;
    ASSERT_TRUE(g_spawn_async_with_pipes(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr,
                                         nullptr, &pid, nullptr, &out, nullptr, nullptr));
    g_usleep(300'000);  // listening
    FeedbackUnderTest f(testing::sidecarWithCues(6));
    OSCFeedback real(f.engine);
    real.setDestinations({{"127.0.0.1", std::stoi(port)}});
    for (int i = 0; i < 5; ++i) {
        f.engine.go("osc");
        real.stateChanged();
        pumpMainUntil([] { return false; }, 150);
    }
    std::string text;
    g_unix_set_fd_nonblocking(out, TRUE, nullptr);
    char buffer[4096];
    for (int wait = 0; wait < 250 && text.find("progress ii 5 6") == std::string::npos; ++wait) {
        const ssize_t n = read(out, buffer, sizeof buffer);
        if (n > 0) text.append(buffer, std::size_t(n));
        else g_usleep(20'000);
    }
    kill(pid, SIGTERM);
    g_spawn_close_pid(pid);
    close(out);
    for (const char* line : {"/tallowmark/standby sss \"6\" \"L6\" \"SFX\"", "/tallowmark/fired ss \"5\" \"L5\"",
                             "/tallowmark/next ss \"\" \"\"", "/tallowmark/progress ii 5 6"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

}  // namespace
}  // namespace tallowmark
