// Latency of a GO from a lighting desk: from the datagram leaving a socket on
// loopback to (a) the server's message reaching the main thread and (b) the
// engine's state-change callback there. The engine runs a real script in a
// temporary folder, so every GO also writes the run file, as in a show. Run
// quiet and again while another peer floods the port with about 10,000
// datagrams a second, and again with 32 follower screens connected (in a
// thread of their own, as other machines would be) and every GO pushed to
// them. Prints medians (p50), 99th percentiles and the count of GOs that fired.
//
//   bench_osc_latency_bench [samples]   (1000 by default)
#include <arpa/inet.h>
#include <glib.h>
#include <libsoup/soup.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <variant>
#include <vector>

#include "bench_script.hpp"
#include "control/control_hub.hpp"
#include "core/main_queue.hpp"
#include "follow/follow_server.hpp"

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

// The program's OSC transport with a stopwatch between it and the hub: the time
// each /go reaches the main thread.
class TimedTransport final : public ControlTransport {
public:
    TimedTransport(std::unique_ptr<ControlTransport> inner, gint64& arrivedAt)
        : inner_(std::move(inner)), arrivedAt_(arrivedAt) {
        inner_->onMessage = [this](const ControlMessage& message) {
            if (const auto* in = std::get_if<OSCInput>(&message); in && in->message.address == "/go")
                arrivedAt_ = g_get_monotonic_time();
            if (onMessage) onMessage(message);
        };
        inner_->onStatus = [this](const TransportStatus& status) {
            if (onStatus) onStatus(status);
        };
    }
    void start(const TransportOptions& options) override { inner_->start(options); }
    void stop() override { inner_->stop(); }

private:
    std::unique_ptr<ControlTransport> inner_;
    gint64& arrivedAt_;
};

// Follower screens on a main loop of their own: they connect, count what
// they are sent, and go when told.
class Screens {
public:
    Screens(std::string url, int count) {
        thread_ = std::thread([this, url = std::move(url), count] {
            GMainContext* context = g_main_context_new();
            g_main_context_push_thread_default(context);
            SoupSession* session = soup_session_new_with_options("max-conns-per-host", 64, nullptr);
            loop_ = g_main_loop_new(context, FALSE);
            for (int i = 0; i < count; ++i) {
                SoupMessage* message = soup_message_new("GET", url.c_str());
                soup_session_websocket_connect_async(
                    session, message, nullptr, nullptr, G_PRIORITY_DEFAULT, nullptr,
                    [](GObject* source, GAsyncResult* result, gpointer self) {
                        auto* screens = static_cast<Screens*>(self);
                        SoupWebsocketConnection* connection =
                            soup_session_websocket_connect_finish(SOUP_SESSION(source), result, nullptr);
                        if (!connection) return;
                        screens->connections_.push_back(connection);
                        ++screens->connected;
                        g_signal_connect(connection, "message",
                                         G_CALLBACK(+[](SoupWebsocketConnection*, gint, GBytes*, gpointer self) {
                                             ++static_cast<Screens*>(self)->frames;
                                         }),
                                         self);
                    },
                    this);
                g_object_unref(message);
            }
            g_main_loop_run(loop_);
            for (SoupWebsocketConnection* connection : connections_) g_object_unref(connection);
            soup_session_abort(session);
            g_object_unref(session);
            g_main_loop_unref(loop_);
            g_main_context_pop_thread_default(context);
            g_main_context_unref(context);
        });
    }
    ~Screens() {
        while (!loop_ || !g_main_loop_is_running(loop_)) g_usleep(1000);
        g_main_loop_quit(loop_);
        thread_.join();
    }
    std::atomic<int> connected{0};
    std::atomic<long> frames{0};

private:
    std::thread thread_;
    GMainLoop* loop_ = nullptr;
    std::vector<SoupWebsocketConnection*> connections_;
};

void report(const char* label, std::vector<double> us) {
    if (us.empty()) {
        std::printf("  %-34s no samples\n", label);
        return;
    }
    std::sort(us.begin(), us.end());
    const double p50 = us[us.size() / 2];
    const double p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    std::printf("  %-34s n=%4zu  p50 %8.1f us  p99 %8.1f us  max %8.1f us\n", label, us.size(), p50, p99, us.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::max(10, std::atoi(argv[1])) : 1000;
    const std::uint16_t port = freePort();

    // A real script and its marks in a temporary folder: GO writes the run file beside them.
    char pattern[] = "/tmp/tallowmark-osc-bench.XXXXXX";
    const std::filesystem::path folder = mkdtemp(pattern);
    const std::filesystem::path script = folder / "Show.pdf";
    std::filesystem::copy_file(bench::scriptPdf(4), script);
    {
        CueEngine writer;
        writer.loadSidecar(script);
        std::vector<Cue> cues;
        for (int n = 1; n <= 400; ++n) {
            Cue cue;
            cue.number = std::to_string(n);
            cue.page = n % 4;
            cue.y = 0.002 * n;
            cues.push_back(cue);
        }
        writer.upsert(cues);
    }
    CueEngine engine;
    engine.loadSidecar(script);
    if (engine.ordered().size() != 400 || !engine.runFileURL()) {
        std::fprintf(stderr, "the bench script did not load its 400 cues\n");
        return 1;
    }

    SettingsStore store(true);
    Settings settings;
    settings.oscPort = port;
    store.setSettings(settings);
    gint64 sentAt = 0, messageAt = 0, stateAt = 0;
    ControlTransports transports = systemControlTransports();
    transports.osc = std::make_unique<TimedTransport>(std::move(transports.osc), messageAt);
    auto hub = ControlHub::create(engine, store, std::move(transports));
    hub->start();
    while (hub->status()["oscListening"] != true) g_main_context_iteration(nullptr, TRUE);

    // Shared like the program shares: the run pushed on every change.
    FollowServer follow;
    bool sharing = false;
    engine.onStateChange = [&] {
        if (!stateAt) stateAt = g_get_monotonic_time();
        if (sharing) follow.setRun({{"standby", engine.standbyID() ? Json(*engine.standbyID()) : Json(nullptr)},
                                    {"firedCount", engine.fired().size()}, {"total", engine.ordered().size()}});
    };

    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    const auto go = OSCCodec::encode(OSCMessage{"/go", {}});

    auto measure = [&](std::vector<double>& toMessage, std::vector<double>& toState) {
        for (int i = 0; i < samples; ++i) {
            // 40 a second keeps the desk inside its share of 50.
            const gint64 next = g_get_monotonic_time() + 25'000;
            messageAt = stateAt = 0;
            sentAt = g_get_monotonic_time();
            sendto(fd, go.data(), go.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            // Block in the loop as the application does; a timer ends the wait
            // if the datagram was dropped.
            bool timedOut = false;
            const guint timer = g_timeout_add(
                500,
                [](gpointer flag) {
                    *static_cast<bool*>(flag) = true;
                    return G_SOURCE_REMOVE;
                },
                &timedOut);
            while (!stateAt && !timedOut) g_main_context_iteration(nullptr, TRUE);
            if (!timedOut) g_source_remove(timer);
            if (messageAt) toMessage.push_back(double(messageAt - sentAt));
            if (stateAt) toState.push_back(double(stateAt - sentAt));
            // Outside the measured span: whatever else is queued, and a fresh run
            // before the script runs out of cues.
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            if (engine.fired().size() >= 390) engine.reset("bench");
            const gint64 left = next - g_get_monotonic_time();
            if (left > 0) g_usleep(left);
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

    // The followers: 32 screens, every GO pushed to each.
    const std::filesystem::path page = folder / "page.html";
    { std::FILE* f = std::fopen(page.c_str(), "w"); if (f) { std::fputs("<!doctype html><title>f</title>", f); std::fclose(f); } }
    FollowServer::Options options;
    options.port = static_cast<int>(freePort());
    options.token = FollowServer::newToken();
    options.pageFile = page;
    options.localOnly = true;
    options.socketsPerWindow = 64;
    options.images = [](int, int, std::function<void(std::shared_ptr<const EncodedImage>)> done) { done(nullptr); };
    std::vector<double> followMessage, followState;
    long followFrames = 0;
    int followScreens = 0;
    if (follow.start(options).listening) {
        sharing = true;
        Screens screens("ws://127.0.0.1:" + std::to_string(options.port) + "/f/" + options.token + "/ws", 32);
        const gint64 until = g_get_monotonic_time() + 10'000'000;
        while (screens.connected < 32 && g_get_monotonic_time() < until) g_main_context_iteration(nullptr, FALSE);
        followScreens = screens.connected;
        measure(followMessage, followState);
        followFrames = screens.frames;
        sharing = false;
    }

    std::printf("GO latency over loopback, run file written on every GO, %d GOs each\n", samples);
    std::printf("quiet:\n");
    report("datagram -> main thread", quietMessage);
    report("datagram -> engine state change", quietState);
    std::printf("while another peer floods %.0f datagrams/s:\n", double(floodSent) / floodSeconds);
    report("datagram -> main thread", floodMessage);
    report("datagram -> engine state change", floodState);
    std::printf("with %d follower screens connected (%ld frames reached them):\n", followScreens, followFrames);
    report("datagram -> main thread", followMessage);
    report("datagram -> engine state change", followState);
    std::printf("GOs fired: %zu of %d quiet, %zu of %d under the flood, %zu of %d with followers\n",
                quietState.size(), samples, floodState.size(), samples, followState.size(), samples);
    if (!quietState.empty() && !followState.empty()) {
        std::vector<double> q = quietState, f = followState;
        std::sort(q.begin(), q.end());
        std::sort(f.begin(), f.end());
        std::printf("followers / quiet, engine state change: p50 x%.2f, p99 x%.2f\n", f[f.size() / 2] / q[q.size() / 2],
                    f[f.size() * 99 / 100] / q[q.size() * 99 / 100]);
    }
    if (!quietState.empty() && !floodState.empty()) {
        std::sort(quietState.begin(), quietState.end());
        std::sort(floodState.begin(), floodState.end());
        std::printf("flood / quiet, engine state change: p50 x%.2f\n",
                    floodState[floodState.size() / 2] / quietState[quietState.size() / 2]);
    }
    close(fd);
    hub.reset();
    drainMainQueue();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}
