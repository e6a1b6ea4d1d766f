// Who is heard when OSC floods in, over the whole path: only the hub's addresses
// are taken off the wire, shares go by sending host, and a desk the operator
// names keeps a share nothing else can take. liblo's oscsend is the desk.

#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "../cues/cue_fixtures.hpp"
#include "control/control_hub.hpp"
#include "control/osc_addresses.hpp"
#include "udp_peer.hpp"

namespace tallowmark {
namespace {

TEST(OscFairness, OnlyTheHubsAddressesAreTakenOffTheWire) {
    for (const char* known : {"/go", "/GO", "/tallowmark/go", "/tallowmark", "/", "", "/page/12", "/page/-1",
                              "//cue//5//go", "/Page/Previous", "/dim", "/standby", "/cue", "/tallowmark/state"})
        EXPECT_TRUE(isControlAddress(known)) << known;
    for (const char* unknown : {"/eos/out/cue", "/page/x", "/cue/5", "/gone", "/tallowmarkgo/x", "/page/1/2"})
        EXPECT_FALSE(isControlAddress(unknown)) << unknown;
}

TEST(OscFairness, FiveDeskGosFireThroughAFloodOverLoopback) {
    if (!g_find_program_in_path("oscsend")) GTEST_SKIP() << "liblo's oscsend is not installed";
    struct Row {
        std::vector<std::string> desks;
        std::vector<std::pair<std::string, int>> flood;  // host, source ports
    };
    const Row rows[] = {
        // An unnamed desk; four sockets and a 256-port rotator on one other host.
        {{}, {{"127.0.0.2", 1}, {"127.0.0.2", 1}, {"127.0.0.2", 1}, {"127.0.0.2", 1}, {"127.0.0.2", 256}}},
        // A named desk; four flooding hosts and a rotator on a fifth fill the shared share.
        {{"127.0.0.1"}, {{"127.0.0.2", 1}, {"127.0.0.3", 1}, {"127.0.0.4", 1}, {"127.0.0.5", 1}, {"127.0.0.6", 256}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.desks.empty() ? "unnamed desk" : "named desk");
        CueEngine engine;
        testing::EngineAccess::loadFromMemory(engine, testing::sidecarWithCues(8));
        SettingsStore store(true);
        Settings s = store.settings();
        s.oscPort = testing::freePort();
        s.oscDeskHosts = row.desks;
        store.setSettings(s);
        auto hub = ControlHub::create(engine, store, {std::move(systemControlTransports().osc), nullptr});
        hub->start();
        ASSERT_TRUE(testing::pumpMainUntil([&] { return hub->status()["oscListening"] == true; }));

        std::vector<std::vector<std::unique_ptr<testing::RawPeer>>> flooders(row.flood.size());
        for (std::size_t f = 0; f < row.flood.size(); ++f)
            for (int p = 0; p < row.flood[f].second; ++p)
                flooders[f].push_back(std::make_unique<testing::RawPeer>(row.flood[f].first));
        std::atomic<bool> stop{false};
        std::vector<std::thread> threads;
        const testing::Bytes noise = testing::datagram("/page/next");
        // 2,000 a second each: far over any share, little enough for the kernel on a busy machine.
        for (auto& sockets : flooders)
            threads.emplace_back([&, peers = &sockets] {
                for (std::size_t n = 0; !stop.load(); ++n) {
                    (*peers)[n % peers->size()]->sendTo("127.0.0.1", std::uint16_t(s.oscPort), noise);
                    if (n % 20 == 19) g_usleep(10000);
                }
            });
        g_usleep(300000);  // the flood is under way before the desk speaks
        const std::string port = std::to_string(s.oscPort);
        for (int i = 0; i < 5; ++i) {
            const gchar* argv[] = {"oscsend", "127.0.0.1", port.c_str(), "/go", nullptr};
            ASSERT_TRUE(g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr));
            testing::pumpMainUntil([&] { return engine.fired().size() == std::size_t(i + 1); }, 1000);
        }
        stop.store(true);
        for (std::thread& t : threads) t.join();
        EXPECT_EQ(engine.fired().size(), 5u);
    }
}

}  // namespace
}  // namespace tallowmark
