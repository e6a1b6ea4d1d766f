// Latency of a GO from a lighting desk: from the datagram leaving a socket on
// loopback to (a) the server's message reaching the main thread and (b) the
// engine's state-change callback there. Run with and without a flood of
// 10,000 other datagrams a second. Prints medians and 99th percentiles.
//
//   bench_osc_latency_bench [samples]
#include <arpa/inet.h>
#include <glib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "control/control_hub.hpp"
#include "core/main_queue.hpp"

using namespace tallowmark;

namespace {

std::uint16_t freePort() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    close(fd);
    return ntohs(a.sin_port);
}

void report(const char* label, std::vector<double> us) {
    if (us.empty()) {
        std::printf("%-34s no samples\n", label);
        return;
    }
    std::sort(us.begin(), us.end());
    const double median = us[us.size() / 2];
    const double p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    std::printf("%-34s n=%4zu  median %7.1f us  p99 %7.1f us  max %7.1f us\n", label, us.size(), median, p99,
                us.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
    const std::uint16_t port = freePort();

    CueEngine engine;
    CueSidecar show;
    for (int n = 1; n <= 400; ++n) {
        Cue cue;
        cue.number = std::to_string(n);
        cue.page = n / 4;
        show.cues.push_back(cue);
    }
    engine.loadFromMemoryForTesting(show);
    SettingsStore store(true);
    Settings settings;
    settings.oscPort = port;
    store.setSettings(settings);
    auto hub = ControlHub::create(engine, store);
    hub->start();
    while (hub->status()["oscListening"] != true) g_main_context_iteration(nullptr, TRUE);

    gint64 sentAt = 0, messageAt = 0, stateAt = 0;
    auto inner = hub->oscServer().onMessage;
    hub->oscServer().onMessage = [&](const OSCMessage& m, const std::string& sender) {
        if (m.address == "/go") messageAt = g_get_monotonic_time();
        inner(m, sender);
    };
    engine.onStateChange = [&] { stateAt = g_get_monotonic_time(); };

    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    const auto go = OSCCodec::encode(OSCMessage{"/go", {}});

    auto measure = [&](std::vector<double>& toMessage, std::vector<double>& toState) {
        for (int i = 0; i < samples; ++i) {
            // 40 a second keeps the GOs inside the rate limit of 50.
            const gint64 next = g_get_monotonic_time() + 25'000;
            messageAt = stateAt = 0;
            sentAt = g_get_monotonic_time();
            sendto(fd, go.data(), go.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            // Block in the loop as the application does; a timer ends the wait
            // if the datagram was dropped.
            bool timedOut = false;
            const guint timer = g_timeout_add(500, [](gpointer flag) {
                *static_cast<bool*>(flag) = true;
                return G_SOURCE_REMOVE;
            }, &timedOut);
            while (!messageAt && !timedOut) g_main_context_iteration(nullptr, TRUE);
            if (!timedOut) g_source_remove(timer);
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            const gint64 left = next - g_get_monotonic_time();
            if (left > 0) g_usleep(left);
            if (messageAt) toMessage.push_back(double(messageAt - sentAt));
            if (stateAt) toState.push_back(double(stateAt - sentAt));
            if (engine.fired().size() > 300) engine.reset("bench");
        }
    };

    std::vector<double> quietMessage, quietState;
    measure(quietMessage, quietState);

    std::atomic<bool> flooding{true};
    std::atomic<long> floodSent{0};
    std::thread flood([&] {
        int out = socket(AF_INET, SOCK_DGRAM, 0);
        const auto datagram = OSCCodec::encode(OSCMessage{"/flood", {}});
        while (flooding) {
            for (int i = 0; i < 100; ++i) {
                sendto(out, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            }
            floodSent += 100;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        close(out);
    });
    std::vector<double> floodMessage, floodState;
    const gint64 floodStart = g_get_monotonic_time();
    measure(floodMessage, floodState);
    const double floodSeconds = double(g_get_monotonic_time() - floodStart) / 1e6;
    flooding = false;
    flood.join();

    std::printf("GO latency over loopback, %d samples each\n", samples);
    report("datagram -> main thread", quietMessage);
    report("datagram -> engine state change", quietState);
    std::printf("with a flood of %.0f datagrams/s:\n", double(floodSent) / floodSeconds);
    report("datagram -> main thread", floodMessage);
    report("datagram -> engine state change", floodState);
    std::printf("(under the flood most GOs fall to the rate limit of 50 a second: %zu of %d fired)\n",
                floodState.size(), samples);
    close(fd);
    return 0;
}
