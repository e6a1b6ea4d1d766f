#pragma once

// One bridge as the page's main frame sees it; the views, panels and shell around it scripted.

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "bridge/native_bridge.hpp"
#include "core/main_queue.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark::testing {

inline constexpr const char* pageURL = "file:///opt/tm/web/index_inlined.html";

using Answer = std::pair<Json, std::optional<std::string>>;
struct Reply {
    bool done = false;
    Json value;
    std::optional<std::string> error;
    Answer answer() const { return {value, error}; }
};

// A web view that records each event it is handed and takes every batch at once.
class RecordingView : public EventTransport {
public:
    explicit RecordingView(std::vector<std::string>& timeline) : timeline_(timeline) {}
    void deliverEvents(const std::string& batch, std::function<void()> taken) override {
        for (const Json& envelope : Json::parse(batch)) {
            events.push_back(envelope);
            timeline_.push_back("event " + envelope["name"].get<std::string>());
        }
        postToMain(std::move(taken));
    }
    std::vector<Json> events;
    std::vector<std::string>& timeline_;
};

// The operator: panels answer `chosen` on a later turn of the main queue, or wait for choose()
// while `hold` is set; passwords are given in order (none: Cancel).
class ScriptedDialogs : public BridgeDialogs {
public:
    using Done = std::function<void(std::optional<std::string>)>;
    void openPanel(const OpenPanelRequest& request, Done done) override {
        messages.push_back(request.message);
        // Every panel of the bridge takes one file and never a folder.
        EXPECT_FALSE(request.allowsMultiple || request.canChooseFolders) << request.message;
        answer(std::move(done));
    }
    void savePanel(const SavePanelRequest& request, Done done) override {
        messages.push_back(request.message + " [" + request.proposedName + "]");
        saveFolders.push_back(request.folder.value_or("(none)"));
        answer(std::move(done));
    }
    int confirm(const AlertRequest& alert) override {
        messages.push_back(alert.message);
        return button;
    }
    void askPassword(const PasswordRequest& request, Done done) override {
        prompts.push_back(request.informative);
        std::optional<std::string> given = passwords.empty() ? std::nullopt : passwords.front();
        if (!passwords.empty()) passwords.pop_front();
        postToMain([done = std::move(done), given] { done(given); });
    }
    void reveal(const std::vector<std::string>& paths, Done done) override {
        revealed = paths;
        done(revealFailure);
    }
    // Closes the oldest held panel with `path` chosen.
    void choose(const std::filesystem::path& path) {
        ASSERT_FALSE(held.empty()) << "no panel is open";
        Done done = std::move(held.front());
        held.pop_front();
        done(path.string());
    }

    std::optional<std::string> chosen, revealFailure;
    bool hold = false;
    int button = 0;
    std::deque<std::optional<std::string>> passwords;
    std::vector<std::string> messages, prompts, revealed, saveFolders;
    std::deque<Done> held;

    void answer(Done done) {
        if (hold) return held.push_back(std::move(done));
        postToMain([done = std::move(done), path = chosen] { done(path); });
    }
};

class BridgeFixture : public ::testing::Test {
protected:
    BridgeFixture() {
        Settings s;
        s.oscEnabled = false;  // no listener on a fixed port while tests run in parallel
        s.goGuardMs = 0;       // tests GO faster than any operator; the guard is tested on its own
        settings->setSettings(s);
        bridge = NativeBridge::create(settings, std::make_shared<NoUpdates>("20260101-1"), dir / "demo");
        bridge->script().setReportFolder(dir / "reports");  // never the user's data folder
        bridge->setPageGuard(std::make_shared<PageGuard>(pageURL));
        bridge->setWebView(view);
    }

    // Sends the call; the reply is filled in whenever it comes.
    std::shared_ptr<Reply> send(const std::string& name, Json body = Json::array(), bool mainFrame = true,
                                std::optional<std::string> url = std::string(pageURL)) {
        auto reply = std::make_shared<Reply>();
        bridge->receive({name, std::move(body), std::move(url), mainFrame},
                        ReplyHandle([this, reply, name](const Json& v, const std::optional<std::string>& e) {
                            EXPECT_FALSE(reply->done) << name << " answered twice";
                            *reply = {true, v, e};
                            timeline.push_back("reply " + name);
                        }));
        return reply;
    }
    Reply settle(const std::shared_ptr<Reply>& reply, const std::string& name = "the call") {
        EXPECT_TRUE(pumpMainUntil([&] { return reply->done; })) << name << " never answered";
        drainMainQueue();
        return *reply;
    }
    Reply call(const std::string& name, Json body = Json::array(), bool mainFrame = true,
               std::optional<std::string> url = std::string(pageURL)) {
        return settle(send(name, std::move(body), mainFrame, std::move(url)), name);
    }
    Reply open(const std::filesystem::path& path) { return call("openDocumentPath", Json::array({path.string()})); }

    // Two pages with their numbers at the foot.
    std::filesystem::path script() {
        const auto path = dir / "Show.pdf";
        writePdf(path, {{300, 400, {{30, 40, "Enter the ghost"}, {30, 56, "Thunder offstage"}, {30, 72, "Rain"}, {145, 370, "1"}}},
                        {300, 400, {{30, 120, "Exit pursued"}, {145, 370, "7"}}}});
        return path;
    }
    // Text from corner to corner, so that the page's own crop leaves room for a memo.
    std::filesystem::path cornerScript(const std::string& name, const std::string& words) {
        const auto path = dir / name;
        writePdf(path, {{300, 400, {{20, 20, words, 12}, {240, 370, "End", 12}}},
                        {300, 400, {{20, 20, "Curtain", 12}, {240, 370, "End", 12}}}});
        return path;
    }
    // A layout of both pages, measured, with one cue label on the first.
    static Json layout() {
        Json label = {{"text", "Q1"}, {"x", 0.6}, {"w", 0.1}, {"dy", 0.5}, {"dh", 0.05}, {"padL_px", 0}};
        return {{"labelFontPx", 14}, {"labelLineH", 1.2}, {"labelPadX_px", 4}, {"labelPadY_px", 2},
                {"pages", {{{"index", 0}, {"extra", 0}, {"pageWpx", 600}, {"labels", {label}}},
                           {{"index", 1}, {"extra", 0}, {"pageWpx", 600}}}}};
    }

    TempDir dir;
    // On disk, so a test can see what reaches the settings file.
    std::shared_ptr<SettingsStore> settings = std::make_shared<SettingsStore>(dir / "settings.json");
    std::vector<std::string> timeline;
    std::shared_ptr<RecordingView> view = std::make_shared<RecordingView>(timeline);
    std::shared_ptr<ScriptedDialogs> dialogs = std::make_shared<ScriptedDialogs>();
    std::shared_ptr<NativeBridge> bridge;
};

}  // namespace tallowmark::testing
