#include "bridge/share_screens.hpp"

#include "bridge/open_script.hpp"
#include "bridge/page_image_server.hpp"
#include "core/unicode_text.hpp"
#include "follow/share_code.hpp"
#include "settings/settings_store.hpp"

namespace tallowmark {

namespace {

// A screen shows a label on one line; a pasted chapter would cost every
// screen the whole chapter on every edit.
constexpr std::size_t maxLabelBytes = 400;
constexpr std::size_t maxCues = 10'000;

std::string cut(const std::string& text) { return cutUtf8(text, maxLabelBytes); }

Json idOrNull(const std::optional<std::string>& id) { return id ? Json(*id) : Json(nullptr); }

}  // namespace

ShareScreens::~ShareScreens() {
    if (settleTimer_) g_source_remove(settleTimer_);
}

void ShareScreens::resume() {
    if (settings_.settings().followSharing) start();
}

void ShareScreens::setSharing(bool on) {
    Settings s = settings_.settings();
    if (s.followSharing != on) {
        s.followSharing = on;
        settings_.setSettings(s);
    }
    if (on) return start();
    server_.stop();
    if (settings_.settings().followToken.empty()) token_.clear();
    if (onStatus) onStatus();
}

void ShareScreens::setPinned(bool pinned) {
    Settings s = settings_.settings();
    // Pinning keeps the address the screens already have.
    s.followToken = pinned ? (token_.empty() ? FollowServer::newToken() : token_) : std::string();
    settings_.setSettings(s);
    if (pinned) token_ = s.followToken;
    if (onStatus) onStatus();
}

void ShareScreens::start() {
    const Settings& s = settings_.settings();
    if (!s.followToken.empty()) token_ = s.followToken;
    else if (token_.empty()) token_ = FollowServer::newToken();
    server_.onStatus = [this](const FollowServer::Status&) {
        if (onStatus) onStatus();
    };
    server_.onLog = [this](const std::string& line) {
        if (onLog) onLog(line);
    };
    FollowServer::Options options;
    options.port = static_cast<int>(s.followPort);
    options.token = token_;
    options.pageFile = pageFile_;
    options.images = [store = script_.weakStore()](int index, int width,
                                                    std::function<void(std::shared_ptr<const EncodedImage>)> done) {
        servePageImage(store, PageImageAddress{index, width},
                       [done = std::move(done)](PageImageAnswer answer) { done(answer.image); });
    };
    server_.start(std::move(options));
    pushScript();
    if (onStatus) onStatus();
}

void ShareScreens::scriptChanged() {
    if (!server_.status().listening) return;
    if (settleTimer_) g_source_remove(settleTimer_);
    settleTimer_ = g_timeout_add(settleMs, [](gpointer self) -> gboolean {
        auto* share = static_cast<ShareScreens*>(self);
        share->settleTimer_ = 0;
        share->pushScript();
        return G_SOURCE_REMOVE;
    }, this);
}

void ShareScreens::runChanged() {
    if (server_.status().listening) server_.setRun(runJson());
}

void ShareScreens::pushScript() {
    if (!server_.status().listening) return;
    Json document = nullptr;
    if (const std::optional<Json>& info = script_.currentInfo()) {
        document = {{"title", info->value("title", "")}, {"pageCount", info->value("pageCount", 0)},
                    {"aspects", info->value("aspects", Json::array())},
                    {"cropRects", info->value("cropRects", Json::array())}};
    }
    Json cues = Json::array();
    for (const Cue& cue : script_.engine().ordered()) {
        if (cues.size() >= maxCues) break;
        cues.push_back({{"id", cue.id}, {"number", cut(cue.number)}, {"label", cut(cue.label)}, {"kind", cut(cue.kind)},
                        {"page", cue.page}, {"x", cue.x}, {"y", cue.y}, {"w", cue.w}, {"h", cue.h}});
    }
    server_.setScript(std::move(document), std::move(cues));
    server_.setRun(runJson());
}

Json ShareScreens::runJson() const {
    const CueEngine& engine = script_.engine();
    const std::optional<std::string>& standby = engine.standbyID();
    const Cue* next = standby ? engine.cueAfter(*standby) : nullptr;
    return {{"standby", idOrNull(standby)}, {"next", next ? Json(next->id) : Json(nullptr)},
            {"lastFired", idOrNull(engine.lastFiredID())}, {"firedCount", engine.fired().size()},
            {"total", engine.ordered().size()}};
}

Json ShareScreens::status() const {
    const FollowServer::Status s = server_.status();
    Json addresses = Json::array();
    std::optional<std::string> qr;
    if (s.listening) {
        for (const std::string& address : followAddresses(s.port, token_)) addresses.push_back(address);
        if (!addresses.empty()) qr = qrCodeSvg(addresses.front().get<std::string>());
    }
    return {{"sharing", settings_.settings().followSharing}, {"listening", s.listening}, {"port", s.port},
            {"error", s.error}, {"screens", s.screens}, {"pinned", !settings_.settings().followToken.empty()},
            {"addresses", std::move(addresses)}, {"qr", qr ? Json(*qr) : Json(nullptr)}};
}

}  // namespace tallowmark
