// The settings that keep a show safe: the GO guard, what "/go" does with a
// number the script lacks, the desks heard first, and where the state goes.

#include <gtest/gtest.h>

#include <unistd.h>

#include "settings/settings_rules.hpp"
#include "settings/settings_store.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

TEST(ShowSafetySettings, ThePageCanOnlySetWhatTheRulesAllow) {
    struct Row { Json sent; Json kept; };
    const Row rows[] = {
        {{{"goGuardMs", 150}}, {{"goGuardMs", 150}}},
        {{{"goGuardMs", 0}}, {{"goGuardMs", 0}}},
        {{{"goGuardMs", 9000}}, {{"goGuardMs", 2000}}},
        {{{"goGuardMs", -5}}, {{"goGuardMs", 0}}},
        {{{"goGuardMs", 1.5}}, {{"goGuardMs", 300}}},
        {{{"intervalMinutes", 15}}, {{"intervalMinutes", 15}}},
        {{{"intervalMinutes", 0}}, {{"intervalMinutes", 1}}},
        {{{"intervalMinutes", 100000}}, {{"intervalMinutes", 120}}},
        {{{"oscGoUnknownNumber", "ignore"}}, {{"oscGoUnknownNumber", "ignore"}}},
        {{{"oscGoUnknownNumber", "fire"}}, {{"oscGoUnknownNumber", "go"}}},
        {{{"oscDeskHosts", {" 192.168.1.20 ", "::ffff:10.0.0.5", "desk.local", "300.1.1.1", 7, "FE80::1", "192.168.1.20"}}},
         {{"oscDeskHosts", {"192.168.1.20", "10.0.0.5", "fe80::1"}}}},
        {{{"oscDeskHosts", "10.0.0.1"}}, {{"oscDeskHosts", Json::array()}}},
        {{{"oscFeedback", {{{"host", " localhost "}, {"port", 9000}}, {{"host", "::ffff:10.0.0.7"}, {"port", 8000}},
                           {{"host", "desk.local"}, {"port", 9000}}, {{"host", "10.0.0.8"}, {"port", 0}},
                           {{"host", "10.0.0.8"}, {"port", 70000}}, {{"host", "10.0.0.8"}}, "10.0.0.9:9000",
                           {{"host", "localhost"}, {"port", 9000}}}}},
         {{"oscFeedback", {{{"host", "localhost"}, {"port", 9000}}, {{"host", "10.0.0.7"}, {"port", 8000}}}}}},
    };
    for (const Row& row : rows) {
        const Json dict = settingsDictionary(applyPageSettings(Settings{}, row.sent));
        for (const auto& [key, value] : row.kept.items()) EXPECT_EQ(dict[key], value) << row.sent;
    }
    Json many = Json::array();
    for (int i = 0; i < 40; ++i) many.push_back("10.0.0." + std::to_string(i));
    EXPECT_EQ(applyPageSettings(Settings{}, {{"oscDeskHosts", many}}).oscDeskHosts.size(), maxOscDeskHosts);
}

TEST(ShowSafetySettings, AFileFromBeforeKeepsTheSafeDefaults) {
    FileNotes notes;
    const auto s = decodeSettingsFile(R"({"oscPort": 9000})", notes);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->goGuardMs, 300);
    EXPECT_EQ(s->intervalMinutes, 8);
    EXPECT_EQ(s->oscGoUnknownNumber, "go");
    EXPECT_TRUE(s->oscDeskHosts.empty());
    EXPECT_TRUE(s->oscFeedback.empty());
    EXPECT_TRUE(s->lockedScripts.empty());
    const Json written = encodeSettings(*s);
    EXPECT_EQ(decodeSettings(written), s);
}

TEST(ShowSafetySettings, TheLockHoldsForTheScriptByAnyPathThatReachesIt) {
    testing::TempDir dir;
    const std::filesystem::path script = dir.path() / "Show.pdf";
    testing::writeText(script, "%PDF-1.4");
    ASSERT_EQ(symlink(dir.path().c_str(), (dir.path() / "link").c_str()), 0);
    const std::string other = (dir.path() / "link" / "Show.pdf").string();

    SettingsStore store(dir.path() / "settings.json");
    store.noteLocked(script.string(), true);
    EXPECT_TRUE(store.isLocked(other));
    EXPECT_FALSE(store.isLocked((dir.path() / "Other.pdf").string()));
    store.noteLocked(other, false);  // unlocked by the other path: unlocked for both
    EXPECT_FALSE(store.isLocked(script.string()));
    EXPECT_TRUE(store.settings().lockedScripts.empty());
}

}  // namespace
}  // namespace tallowmark
