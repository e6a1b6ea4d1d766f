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

struct Sent {
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

TEST(OSCFeedback, TheStateIsFourMessagesCutToFitADatagram) {
    CueSidecar sidecar = testing::sidecarWithCues(3);
    sidecar.cues[1].kind = "LX";
    for (int i = 0; i < 150; ++i) sidecar.cues[1].label += "\xc3\xa4";  // 300 bytes of two-byte letters
    FeedbackUnderTest f(sidecar);
    using Args = std::vector<OSCArgument>;
    const auto args = [&](std::size_t i) { return f.feedback.stateMessages()[i].arguments; };
    std::vector<std::string> addresses;
    for (const OSCMessage& m : f.feedback.stateMessages()) addresses.push_back(m.address);
    EXPECT_EQ(addresses, (std::vector<std::string>{"/tallowmark/standby", "/tallowmark/fired", "/tallowmark/next",
                                                   "/tallowmark/progress"}));
    EXPECT_EQ(args(0), (Args{"1", "L1", "SFX"}));
    EXPECT_EQ(args(1), (Args{"", ""})) << "nothing fired yet";
    EXPECT_EQ(args(3), (Args{0, 3}));
    const std::string label = std::get<std::string>(args(2)[1]);
    EXPECT_EQ(label.size(), OSCFeedback::maxTextBytes) << "cut between characters, within the bound";
    EXPECT_TRUE(g_utf8_validate(label.data(), gssize(label.size()), nullptr));
    f.engine.go("key");
    EXPECT_EQ(args(0)[2], OSCArgument{"LX"});
    for (int i = 0; i < 2; ++i) f.engine.go("key");
    EXPECT_EQ(args(0), (Args{"", "", ""})) << "no standby at the end";
    EXPECT_EQ(args(1), (Args{"3", "L3"}));
    EXPECT_EQ(args(2), (Args{"", ""}));
    EXPECT_EQ(args(3), (Args{3, 3}));
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
TEST(OSCFeedback, AStateQueryIsAnsweredToTheAsker) {
    FeedbackUnderTest f;
    OSCFeedback real(f.engine);
    SettingsStore store(true);
    struct Quiet final : ControlTransport {
        void start(const TransportOptions&) override {}
        void stop() override {}
    };
    auto transport = std::make_unique<Quiet>();
    ControlTransport* osc = transport.get();
    auto hub = ControlHub::create(f.engine, store, {std::move(transport), nullptr});
    hub->onStateQuery = [&](const std::string& host, std::uint16_t port) { real.answer(host, port); };
    std::vector<std::string> logged;
    hub->onLog = [&](const LogEntry& e) { logged.push_back(e.text); };
    hub->start();
    testing::RawPeer asker;
    osc->onMessage(OSCInput{OSCMessage{"/TALLOWMARK/state", {}}, asker.name()});
    const std::vector<OSCMessage> answer = asker.receive(3000);
    ASSERT_EQ(answer.size(), 4u);
    EXPECT_EQ(answer, f.feedback.stateMessages());
    EXPECT_TRUE(logged.empty()) << "a panel asking every second does not fill the log";
}

TEST(OSCFeedback, OscdumpHearsTheStateOfEveryGo) {
    gchar* oscdump = g_find_program_in_path("oscdump");
    if (!oscdump) GTEST_SKIP() << "liblo's oscdump is not installed";
    const std::uint16_t port = testing::freePort();
    const std::string portText = std::to_string(port);
    gchar* argv[] = {oscdump, const_cast<gchar*>("-L"), const_cast<gchar*>(portText.c_str()), nullptr};
    GPid pid = 0;
    gint out = -1;
    ASSERT_TRUE(g_spawn_async_with_pipes(nullptr, argv, nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &pid, nullptr, &out,
                                         nullptr, nullptr));
    g_usleep(300'000);  // listening
    CueEngine engine;
    EngineAccess::loadFromMemory(engine, testing::sidecarWithCues(6));
    OSCFeedback feedback(engine);
    feedback.setDestinations({{"127.0.0.1", port}});
    for (int i = 0; i < 5; ++i) {
        engine.go("osc");
        feedback.stateChanged();
        pumpMainUntil([] { return false; }, 150);
    }
    std::string text;
    const gint64 deadline = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
    g_unix_set_fd_nonblocking(out, TRUE, nullptr);
    while (text.find("/tallowmark/progress ii 5 6") == std::string::npos && g_get_monotonic_time() < deadline) {
        char buffer[4096];
        const ssize_t n = read(out, buffer, sizeof buffer);
        if (n > 0) text.append(buffer, std::size_t(n));
        else g_usleep(20'000);
    }
    kill(pid, SIGTERM);
    g_spawn_close_pid(pid);
    close(out);
    g_free(oscdump);
    for (const char* line : {"/tallowmark/standby sss \"6\" \"L6\" \"SFX\"", "/tallowmark/fired ss \"5\" \"L5\"",
                             "/tallowmark/next ss \"\" \"\"", "/tallowmark/progress ii 5 6"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

}  // namespace
}  // namespace tallowmark
