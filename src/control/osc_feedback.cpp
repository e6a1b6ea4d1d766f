#include "control/osc_feedback.hpp"

#include <glib.h>

#include <algorithm>
#include <map>
#include <optional>

#include "control/osc_client.hpp"
#include "core/unicode_text.hpp"

namespace tallowmark {

namespace {

// The receiver gets valid text, however long the label.
std::string cut(const std::string& text) { return cutUtf8(text, OSCFeedback::maxTextBytes); }

std::string keyOf(const std::string& host, std::uint16_t port) { return host + ":" + std::to_string(port); }

}  // namespace

struct OSCFeedback::Impl : std::enable_shared_from_this<Impl> {
    struct Target {
        std::string host;
        std::uint16_t port = 0;
        std::optional<std::int64_t> sentAt{};  // monotonic microseconds of the last bundle
        guint timer = 0;                     // a bundle waits for its slot
        bool configured = false;             // one of the operator's; otherwise an asker
    };

    const CueEngine& engine;
    Send send;
    std::map<std::string, Target> targets;
    guint heartbeat = 0;
    std::int32_t beat = 0;

    Impl(const CueEngine& e, Send s) : engine(e), send(std::move(s)) {}

    ~Impl() {
        for (auto& [key, target] : targets)
            if (target.timer) g_source_remove(target.timer);
        if (heartbeat) g_source_remove(heartbeat);
    }

    void sendNow(Target& target) {
        target.sentAt = g_get_monotonic_time();
        send(OSCCodec::encodeBundle(stateMessages()), target.host, target.port);
    }

    // Now when the slot is free, else once at the slot's start with whatever
    // the state is then.
    void offer(const std::string& key) {
        Target& target = targets.at(key);
        if (target.timer) return;
        const std::int64_t now = g_get_monotonic_time();
        const std::int64_t due = target.sentAt ? *target.sentAt + minIntervalMs * 1000 : now;
        if (due <= now) return sendNow(target);
        struct Slot {
            std::weak_ptr<Impl> impl;
            std::string key;
        };
        target.timer = g_timeout_add_full(
            G_PRIORITY_DEFAULT, static_cast<guint>((due - now + 999) / 1000),
            [](gpointer data) {
                const auto* slot = static_cast<Slot*>(data);
                if (auto impl = slot->impl.lock()) {
                    auto found = impl->targets.find(slot->key);
                    if (found != impl->targets.end()) {
                        found->second.timer = 0;
                        impl->sendNow(found->second);
                    }
                }
                return G_SOURCE_REMOVE;
            },
            new Slot{weak_from_this(), key}, [](gpointer data) { delete static_cast<Slot*>(data); });
    }

    std::vector<OSCMessage> stateMessages() const {
        const std::vector<Cue>& cues = engine.ordered();
        const std::optional<Cue> standby = engine.standbyCue();
        const Cue* fired = engine.lastFiredID() ? engine.cue(*engine.lastFiredID()) : nullptr;
        const Cue* next = standby ? engine.cueAfter(standby->id) : nullptr;
        const auto text = [](const Cue* cue, std::string Cue::*field) { return cut(cue ? cue->*field : ""); };
        const Cue* standbyCue = standby ? &*standby : nullptr;
        return {
            {"/tallowmark/standby", {text(standbyCue, &Cue::number), text(standbyCue, &Cue::label), text(standbyCue, &Cue::kind)}},
            {"/tallowmark/fired", {text(fired, &Cue::number), text(fired, &Cue::label)}},
            {"/tallowmark/next", {text(next, &Cue::number), text(next, &Cue::label)}},
            {"/tallowmark/progress",
             {static_cast<std::int32_t>(engine.fired().size()), static_cast<std::int32_t>(cues.size())}},
        };
    }

    void startHeartbeat() {
        if (heartbeat) return;
        heartbeat = g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(heartbeatMs), &Impl::beatWeakly,
                                       new std::weak_ptr<Impl>(weak_from_this()), &Impl::dropWeak);
    }

    static gboolean beatWeakly(gpointer data) {
        if (auto impl = static_cast<std::weak_ptr<Impl>*>(data)->lock()) impl->beatNow();
        return G_SOURCE_CONTINUE;
    }
    static void dropWeak(gpointer data) { delete static_cast<std::weak_ptr<Impl>*>(data); }

    void beatNow() {
        const std::vector<std::uint8_t> datagram = OSCCodec::encode({"/tallowmark/heartbeat", {++beat}});
        for (const auto& [key, target] : targets)
            if (target.configured) send(datagram, target.host, target.port);
    }
};

OSCFeedback::OSCFeedback(const CueEngine& engine, Send send) {
    if (!send) {
        send = [](std::vector<std::uint8_t> datagram, const std::string& host, std::uint16_t port) {
            OSCClient::shared().sendDatagram(std::move(datagram), host, port);
        };
    }
    impl_ = std::make_shared<Impl>(engine, std::move(send));
}

OSCFeedback::~OSCFeedback() = default;

void OSCFeedback::setDestinations(const std::vector<FeedbackDestination>& destinations) {
    Impl& s = *impl_;
    std::vector<std::string> wanted;
    for (const FeedbackDestination& d : destinations) {
        if (d.port < 1 || d.port > 65535 || d.host.empty()) continue;
        const std::uint16_t port = static_cast<std::uint16_t>(d.port);
        const std::string key = keyOf(d.host, port);
        wanted.push_back(key);
        auto [at, added] = s.targets.try_emplace(key, Impl::Target{d.host, port});
        const bool fresh = added || !at->second.configured;
        at->second.configured = true;
        if (fresh) s.offer(key);
    }
    for (auto it = s.targets.begin(); it != s.targets.end();) {
        if (it->second.configured && std::ranges::find(wanted, it->first) == wanted.end()) {
            if (it->second.timer) g_source_remove(it->second.timer);
            it = s.targets.erase(it);
        } else {
            ++it;
        }
    }
    const bool any = std::ranges::any_of(s.targets, [](const auto& t) { return t.second.configured; });
    if (any) s.startHeartbeat();
    else if (s.heartbeat) {
        g_source_remove(s.heartbeat);
        s.heartbeat = 0;
    }
}

void OSCFeedback::stateChanged() {
    for (auto& [key, target] : impl_->targets)
        if (target.configured) impl_->offer(key);
}

void OSCFeedback::answer(const std::string& host, std::uint16_t port) {
    if (port == 0 || host.empty()) return;
    Impl& s = *impl_;
    const std::string key = keyOf(host, port);
    // Askers share the ten-a-second bound, so a spoofed sender cannot turn
    // us into a flood; the table of askers stays small.
    if (!s.targets.contains(key)) {
        std::erase_if(s.targets, [](const auto& t) { return !t.second.configured && !t.second.timer; });
        if (s.targets.size() >= 64) return;
        s.targets.emplace(key, Impl::Target{host, port});
    }
    s.offer(key);
}

std::vector<OSCMessage> OSCFeedback::stateMessages() const { return impl_->stateMessages(); }

}  // namespace tallowmark
