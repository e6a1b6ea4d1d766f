#include "app/model/shell_updates.hpp"

#include <gtest/gtest.h>

#include "bridge/native_bridge.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using update::UpdateManager;
using namespace std::chrono_literals;
using Events = std::vector<std::pair<std::string, Json>>;

TEST(ShellUpdates, RecheckOnActivationOnlyAfterFifteenMinutes) {
    const auto now = UpdateManager::Clock::now();
    const std::pair<UpdateManager::Clock::time_point, bool> cases[] = {
        {UpdateManager::Clock::time_point::min(), true},  // never checked
        {now, false}, {now - 899s, false}, {now - 900s, false}, {now - 901s, true}, {now - 24h, true},
        {now + 60s, false},  // the clock went back
    };
    for (const auto& [lastCheck, recheck] : cases)
        EXPECT_EQ(shouldRecheckOnActivation(lastCheck, now), recheck)
            << std::chrono::duration_cast<std::chrono::seconds>(now - lastCheck).count();
}

// The alert of a check that found an update; the other two are those the menu shows below.
TEST(ShellUpdates, AFoundUpdateOffersToInstall) {
    const AlertRequest alert =
        updateCheckAlert(update::UpdateInfo{"20261103-abc1234", "https://tallowmark.org/files/x.zip"}, "20261029-5e9d804");
    EXPECT_EQ(alert.message, "A new TALLOWMARK is available");
    EXPECT_EQ(alert.informative,
              "Build 20261103-abc1234. TALLOWMARK restarts after the update; your scripts and cues are not touched.");
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Install and Restart", "Later"}));
}

auto recorder(Events& events) {
    return [&events](const std::string& name, const Json& payload) { events.emplace_back(name, payload); };
}

// The alert the menu's check shows, and whether it offers to install.
std::optional<std::pair<AlertRequest, bool>> menuCheck(ShellUpdates& updates, bool wait) {
    std::optional<std::pair<AlertRequest, bool>> shown;
    updates.checkFromMenu([&](AlertRequest alert, bool install) { shown.emplace(std::move(alert), install); });
    if (wait) testing::pumpMainUntil([&] { return shown.has_value(); }, 30000);
    return shown;
}

// Every request fails at once (nothing listens on port 1); packages signed with a key of the
// test's own, or, without `key`, none.
std::shared_ptr<UpdateManager> offlineManager(std::optional<std::filesystem::path> installed = std::nullopt,
                                              bool key = true) {
    update::UpdateConfig config;
    config.host = "tallowmark.org";
    config.connectTo = "tallowmark.org:443:127.0.0.1:1";
    config.publicKey.reset();
    if (key) config.publicKey = update::makeKeyPair()->publicKey;
    config.running = update::BuildInfo{"org.tallowmark.Tallowmark", "20261029-5e9d804", 1793000000};
    config.runningBundle = installed;
    config.relaunch = [](const std::filesystem::path&) { ADD_FAILURE() << "relaunched"; };
    return UpdateManager::create(config);
}

TEST(ShellUpdates, PageEventsAndTheManagersCallbacks) {
    auto manager = offlineManager();
    Events events;
    std::vector<std::string> heard;
    int quits = 0;
    {
        ShellUpdates updates(manager, recorder(events), [&] { ++quits; });
        updates.onAvailable([&](const std::string& stamp) { heard.push_back(stamp); });
        EXPECT_EQ(std::tuple(updates.currentStamp(), updates.availableStamp(), updates.unavailable()),
                  std::tuple("20261029-5e9d804", std::nullopt, std::nullopt));

        updates.announce();  // nothing known yet
        EXPECT_TRUE(events.empty());

        // A check that finds an update reaches the page and the picker alike.
        manager->onAvailable(update::UpdateInfo{"20261103-abc1234", "https://tallowmark.org/files/x.zip"});
        EXPECT_EQ(events, (Events{{"updateAvailable", {{"stamp", "20261103-abc1234"}}}}));
        EXPECT_EQ(heard, std::vector<std::string>{"20261103-abc1234"});

        // Nothing found: the install fails at once, as a failed progress event and to the picker.
        events.clear();
        std::vector<std::pair<std::string, bool>> progress;
        updates.install([&](const std::string& text, bool failed) { progress.emplace_back(text, failed); });
        updates.install();
        const Json failed = {{"text", "No update available"}, {"failed", true}};
        EXPECT_EQ(events, (Events{{"updateProgress", failed}, {"updateProgress", failed}}));
        EXPECT_EQ(progress, (std::vector<std::pair<std::string, bool>>{{"No update available", true}}));

        manager->onQuit();
        EXPECT_EQ(quits, 1);
    }
    // The shell is gone: the process-wide manager must not call into it.
    EXPECT_FALSE(manager->onAvailable || manager->onQuit);
}

TEST(ShellUpdates, ChecksAtActivationAndFromTheMenu) {
    const auto never = UpdateManager::Clock::time_point::min();
    {
        // Not an installed copy: no silent check at all.
        auto loose = offlineManager();
        ShellUpdates updates(loose, nullptr, nullptr);
        updates.checkAtLaunch();
        updates.activated(UpdateManager::Clock::now() + 901s);
        EXPECT_EQ(loose->lastCheck(), never);
    }
    auto manager = offlineManager("/opt/TALLOWMARK.app");
    ShellUpdates updates(manager, nullptr, nullptr);
    ASSERT_EQ(manager->lastCheck(), never);

    updates.activated(UpdateManager::Clock::now());
    const auto first = manager->lastCheck();
    EXPECT_NE(first, never);
    updates.activated(UpdateManager::Clock::now() + 60s);
    EXPECT_EQ(manager->lastCheck(), first);  // too soon
    updates.activated(UpdateManager::Clock::now() + 901s);
    EXPECT_NE(manager->lastCheck(), first);

    const auto shown = menuCheck(updates, true);
    ASSERT_TRUE(shown);
    EXPECT_EQ(std::tie(shown->first.message, shown->first.informative, shown->first.buttons, shown->second),
              std::tuple("TALLOWMARK is up to date", "Build 20261029-5e9d804.", std::vector<std::string>{"OK"}, false));
}

// A build without a release key says so in the menu, the page's update status and an install.
TEST(ShellUpdates, ABuildWithoutAKeySaysUpdatesAreNotSetUp) {
    auto manager = offlineManager("/opt/TALLOWMARK.app", false);
    Events events;
    auto updates = std::make_shared<ShellUpdates>(manager, recorder(events), nullptr);

    const auto shown = menuCheck(*updates, false);
    ASSERT_TRUE(shown) << "answered at once";
    EXPECT_EQ(std::tie(shown->first.message, shown->first.informative, shown->first.buttons, shown->second),
              std::tuple("Updates are not set up for this build", "Build 20261029-5e9d804.",
                         std::vector<std::string>{"OK"}, false));

    updates->install();
    EXPECT_EQ(events, (Events{{"updateProgress", {{"text", "Updates are not set up for this build"}, {"failed", true}}}}));

    auto bridge = NativeBridge::create(std::make_shared<SettingsStore>(true), updates);
    const std::string page = "file:///opt/tm/web/index_inlined.html";
    bridge->setPageGuard(std::make_shared<PageGuard>(page));
    std::optional<Json> status;
    bridge->receive({"updateStatus", Json::array(), page, true},
                    ReplyHandle([&](const Json& value, const std::optional<std::string>&) { status = value; }));
    ASSERT_TRUE(testing::pumpMainUntil([&] { return status.has_value(); }));
    EXPECT_EQ(*status, (Json{{"available", nullptr},
                             {"current", "20261029-5e9d804"},
                             {"unavailable", "Updates are not set up for this build"}}));
}

}  // namespace
}  // namespace tallowmark
