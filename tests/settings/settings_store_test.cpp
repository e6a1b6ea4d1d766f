#include "settings/settings_store.hpp"

#include <gtest/gtest.h>

#include <set>

#include "support/config_home.hpp"
#include "support/json_text.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

namespace fs = std::filesystem;
using testing::ConfigHome;
using testing::readText;
using testing::writeText;

std::vector<std::string> entriesOf(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A settings file of its own in a scratch folder.
class SettingsFile : public ::testing::Test {
protected:
    testing::TempDir dir;
    const fs::path path = dir / "settings.json";
    std::vector<std::string> names() const { return entriesOf(dir.path()); }
};

TEST(SettingsStore, DefaultsWithoutAFileUntilTheFirstChangeAndInMemoryNeverTouchesIt) {
    fs::remove_all(ConfigHome::folder());
    SettingsStore store(false);
    EXPECT_EQ(store.fileURL(), ConfigHome::settingsFile());
    EXPECT_EQ(store.settings(), Settings{});
    EXPECT_FALSE(fs::exists(ConfigHome::folder()));
    store.noteRecent("/shows/Hamlet.pdf");  // creates the missing folder
    EXPECT_EQ(SettingsStore(false).settings().recentDocuments, std::vector<std::string>{"/shows/Hamlet.pdf"});

    const std::string onDisk = readText(store.fileURL());
    SettingsStore memory(true);
    EXPECT_EQ(memory.settings(), Settings{}) << "an in-memory store reads nothing";
    memory.setSettings(Settings{.oscPort = 9000});
    memory.noteRecent("/shows/Lear.pdf");
    EXPECT_EQ(memory.settings().oscPort, 9000);
    EXPECT_EQ(readText(store.fileURL()), onDisk) << "and writes nothing";
    EXPECT_EQ(entriesOf(ConfigHome::folder()).size(), 1u);
}

TEST_F(SettingsFile, WritesPrettySortedFileThatReadsBack) {
    // A width of 100: the file keeps what it is given.
    const Settings s{.midiMap = {{40, "go", std::nullopt}, {41, "back", 2}}, .renderWidth = 100,
                     .recentDocuments = {"/shows/Ääni.pdf", "/levy/K\xe4si 50%.pdf"}, .theme = 0.37,
                     .themeName = "light", .glowTarget = "next", .glowTargetChosen = true,
                     .cueTypes = {{"MUSIIKKI", "#123abc"}}, .readingSizes = {{"/levy/K\xe4si.pdf", 2, 1.5}},
                     .lockedScripts = {"/levy/K\xe4si.pdf"}};
    SettingsStore(path).setSettings(s);
    // Every key is written, defaults too; a binding on any channel has no "channel".
    EXPECT_EQ(readText(path), testing::prettyJson(R"({"cueLabelAdaptive": true, "cueLabelFontPx": 16,
        "cueSnapWords": true, "cueTypes": [{"color": "#123abc", "name": "MUSIIKKI"}], "dimmed": false,
        "dropPageNumbers": false, "followPort": 53180, "followSharing": false, "followToken": "",
        "glowTarget": "next", "glowTargetChosen": true, "goGuardMs": 300, "intervalMinutes": 8,
        "lockedScripts": ["\u0000/levy/K%E4si.pdf"], "maxText": false,
        "memosVisible": true, "midiEnabled": true,
        "midiMap": [{"action": "go", "note": 40}, {"action": "back", "channel": 2, "note": 41}],
        "mscBareGoFiresStandby": true, "mscDeviceFilter": -1, "mscEnabled": true, "ocrLanguages": "", "oscDeskHosts": [],
        "oscEnabled": true, "oscFeedback": [], "oscGoUnknownNumber": "go", "oscLocalOnly": true, "oscPort": 53100,
        "pagesPerSpread": 1,
        "readingSizes": [{"pages": 2, "path": "\u0000/levy/K%E4si.pdf", "zoom": 1.5}],
        "recentDocuments": ["/shows/Ääni.pdf", "\u0000/levy/K%E4si 50%25.pdf"], "renderWidth": 100,
        "theme": 0.37, "themeName": "light"})"));
    EXPECT_EQ(SettingsStore(path).settings(), s);
    EXPECT_EQ(names(), std::vector<std::string>{"settings.json"});
}

TEST_F(SettingsFile, RecentScriptsKeepTheTenNewestWithoutDuplicatesAndALongListIsNoDamage) {
    std::string text = R"({"recentDocuments": ["/s/0.pdf")";  // twelve, from an older version or a hand edit
    for (int n = 1; n < 12; ++n) text += ",\"/s/" + std::to_string(n) + ".pdf\"";
    writeText(path, text + "]}");
    SettingsStore store(path);
    for (int i = 1; i <= 11; ++i) store.noteRecent("/shows/" + std::to_string(i) + ".pdf");
    store.noteRecent("/shows/5.pdf");
    const std::vector<std::string> expected{"/shows/5.pdf", "/shows/11.pdf", "/shows/10.pdf", "/shows/9.pdf",
                                            "/shows/8.pdf", "/shows/7.pdf", "/shows/6.pdf", "/shows/4.pdf",
                                            "/shows/3.pdf", "/shows/2.pdf"};
    EXPECT_EQ(store.settings().recentDocuments, expected);
    EXPECT_EQ(SettingsStore(path).settings().recentDocuments, expected);
    EXPECT_EQ(names(), std::vector<std::string>{"settings.json"}) << "nothing kept aside";
}

// Reading leaves an unusable or damaged file as it is; the first write keeps it aside under a name of its own and
// says where; later writes replace the new file only.
TEST_F(SettingsFile, UnusableAndDamagedFilesAreLeftAloneByReadingAndKeptAsideAtTheFirstWrite) {
    const std::pair<std::string, Settings> rows[] = {
        // One bad byte does not cost the other settings.
        {"{\"oscPort\": 9000, \"recentDocuments\": [\"/levy/K\xe4si.pdf\"], \"glowTarget\": \"a\\udc00\"}",
         {.oscPort = 9000, .recentDocuments = {"/levy/K\xEF\xBF\xBDsi.pdf"}, .glowTarget = "a\xEF\xBF\xBD"}},
        {"", {}}, {R"({"oscPort": "53100", "renderWidth": 900})", {}},
        {"{\"oscPort\": 9000, \"renderWidth\": ", {}},    // cut off mid-write
        {"{}" + std::string((16u << 20) - 1, ' '), {}},  // one byte over the limit
    };
    for (const auto& [text, read] : rows) {
        SCOPED_TRACE(text.substr(0, 40));
        for (const auto& entry : fs::directory_iterator(dir.path())) fs::remove(entry.path());
        writeText(path, text);
        ::testing::internal::CaptureStderr();
        SettingsStore store(path);
        EXPECT_EQ(store.settings(), read);
        EXPECT_TRUE(readText(path) == text && names().size() == 1) << "reading writes nothing";
        store.setSettings(Settings{.oscPort = 7000});
        const std::string log = ::testing::internal::GetCapturedStderr();
        ASSERT_EQ(names().size(), 2u);
        const fs::path kept = dir / names()[1];
        const bool repaired = read != Settings{};
        EXPECT_TRUE(kept.filename().string().starts_with(repaired ? "settings.json.before-repair-"
                                                                  : "settings.json.unreadable-")) << kept;
        EXPECT_TRUE(readText(kept) == text);
        EXPECT_NE(log.find("talletettu nimella " + kept.string()), std::string::npos) << log;
        EXPECT_EQ(repaired, log.find("TALLOWMARK: asetustiedostossa " + path.string() + " oli vioittunutta tekstia") !=
                                std::string::npos) << log;
        store.noteRecent("/shows/Hamlet.pdf");
        EXPECT_EQ(names().size(), 2u);
        EXPECT_EQ(SettingsStore(path).settings().oscPort, 7000);
    }
    // A second unusable file within the same second must not share the name.
    writeText(path, "second damaged");
    SettingsStore(path).noteRecent("/shows/Hamlet.pdf");
    const auto entries = names();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ((std::set<std::string>{readText(dir / entries[1]), readText(dir / entries[2])}),
              (std::set<std::string>{"second damaged", "{}" + std::string((16u << 20) - 1, ' ')}));
}

// A name of 236 bytes leaves room for the temporary file of a write but not for the longer kept-aside name (the limit
// is 255), so only the move fails.
TEST(SettingsStore, UnusableFileThatCannotBeMovedIsNotOverwritten) {
    testing::TempDir dir;
    const fs::path path = dir / std::string(236, 's');
    writeText(path, "damaged");
    SettingsStore store(path);
    store.setSettings(Settings{.oscPort = 7000});
    store.noteRecent("/shows/Hamlet.pdf");
    EXPECT_EQ(store.settings().oscPort, 7000);
    EXPECT_EQ(store.settings().recentDocuments.size(), 1u);
    EXPECT_EQ(readText(path), "damaged");
    EXPECT_EQ(dir.entries(), 1);
}

}  // namespace
}  // namespace tallowmark
