#include "settings/settings_store.hpp"

#include <glib.h>
#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::TempDir;
using testing::readText;
using testing::writeText;
namespace fs = std::filesystem;

// GLib reads XDG_CONFIG_HOME once per process, so it is pointed at a scratch
// folder before any test runs; tests that use it clear it first.
class ConfigHome : public ::testing::Environment {
public:
    void SetUp() override { g_setenv("XDG_CONFIG_HOME", dir_.path().c_str(), TRUE); }
    static fs::path folder() { return fs::path(g_getenv("XDG_CONFIG_HOME")) / "TALLOWMARK"; }

private:
    TempDir dir_;
};
[[maybe_unused]] auto* const configHome = ::testing::AddGlobalTestEnvironment(new ConfigHome);

std::vector<std::string> entriesOf(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<fs::path> keptAside(const fs::path& folder) {
    std::vector<fs::path> kept;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with("settings.json.unreadable-")) kept.push_back(entry.path());
    }
    return kept;
}

TEST(SettingsStore, WithoutFileReportsDefaultsUntilTheFirstChangeWritesIt) {
    fs::remove_all(ConfigHome::folder());
    EXPECT_EQ(SettingsStore::defaultFileURL(), ConfigHome::folder() / "settings.json");
    SettingsStore store(false);
    EXPECT_FALSE(store.inMemory());
    EXPECT_EQ(store.fileURL(), SettingsStore::defaultFileURL());

    const Settings& s = store.settings();
    EXPECT_EQ(s, Settings{});
    EXPECT_TRUE(s.oscPort == 53100 && s.oscLocalOnly && s.renderWidth == 1600 && s.cueLabelFontPx == 16);
    EXPECT_TRUE(s.themeName == "deep" && s.glowTarget == "standby" && !s.glowTargetChosen);
    ASSERT_TRUE(s.cueTypes.size() == 5u && s.midiMap.size() == 4u);
    EXPECT_EQ(s.cueTypes[0], (CueType{"CUE", "#57b46a"}));
    EXPECT_EQ(s.midiMap[3], (MIDIBinding{39, "pageNext", std::nullopt}));
    EXPECT_FALSE(fs::exists(ConfigHome::folder()));

    store.noteRecent("/shows/Hamlet.pdf");  // creates the missing folder
    EXPECT_EQ(SettingsStore(false).settings().recentDocuments, std::vector<std::string>{"/shows/Hamlet.pdf"});
}

TEST(SettingsStore, InMemoryNeverReadsOrWrites) {
    fs::remove_all(ConfigHome::folder());
    fs::create_directories(ConfigHome::folder());
    const std::string onDisk = R"({"oscPort": 7000})";
    writeText(SettingsStore::defaultFileURL(), onDisk);

    SettingsStore store(true);
    EXPECT_EQ(store.settings().oscPort, 53100);
    Settings changed;
    changed.oscPort = 9000;
    store.setSettings(changed);
    store.noteRecent("/shows/Hamlet.pdf");
    EXPECT_EQ(store.settings().oscPort, 9000);
    EXPECT_EQ(readText(SettingsStore::defaultFileURL()), onDisk);
    EXPECT_EQ(entriesOf(ConfigHome::folder()).size(), 1u);
}

TEST(SettingsStore, WritesPrettySortedFileThatReadsBack) {
    TempDir dir;
    const fs::path path = dir / "settings.json";
    Settings s;
    s.renderWidth = 100;  // the file keeps what it is given
    s.midiMap = {{40, "go", std::nullopt}, {41, "back", 2}};
    s.themeName = "light";
    s.theme = 0.37;
    s.glowTarget = "next";
    s.glowTargetChosen = true;
    s.recentDocuments = {"/shows/Ääni.pdf"};
    s.cueTypes = {{"MUSIIKKI", "#123abc"}};
    SettingsStore(path).setSettings(s);

    const std::string text = readText(path);
    EXPECT_TRUE(text.starts_with("{\n  \"cueLabelAdaptive\": true,\n  \"cueLabelFontPx\": 16,")) << text;
    const Json json = *parseJson(text);
    EXPECT_EQ(json.size(), 23u) << "every key is written";
    EXPECT_FALSE(json["midiMap"][0].contains("channel"));
    EXPECT_EQ(json["midiMap"][1]["channel"], 2);
    EXPECT_EQ(SettingsStore(path).settings(), s);
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"settings.json"});
}

TEST(SettingsStore, RecentScriptsKeepTheTenNewestWithoutDuplicates) {
    TempDir dir;
    SettingsStore store(dir / "settings.json");
    for (int i = 1; i <= 11; ++i) store.noteRecent("/shows/" + std::to_string(i) + ".pdf");
    std::vector<std::string> expected;
    for (int i = 11; i >= 2; --i) expected.push_back("/shows/" + std::to_string(i) + ".pdf");
    EXPECT_EQ(store.settings().recentDocuments, expected);

    store.noteRecent("/shows/5.pdf");
    std::erase(expected, "/shows/5.pdf");
    expected.insert(expected.begin(), "/shows/5.pdf");
    EXPECT_EQ(store.settings().recentDocuments, expected);
    EXPECT_EQ(SettingsStore(dir / "settings.json").settings().recentDocuments, expected);
}

TEST(SettingsStore, UnusableFilesGiveDefaultsAndAreLeftAloneByReading) {
    const std::vector<std::string> contents = {
        "",
        R"({"oscPort": "53100", "renderWidth": 900})",
        R"({"theme": 1e999})",
        "{}" + std::string((16u << 20) - 1, ' '),  // one byte over the limit
    };
    for (const auto& content : contents) {
        TempDir dir;
        const fs::path path = dir / "settings.json";
        writeText(path, content);
        SettingsStore store(path);
        EXPECT_EQ(store.settings(), Settings{}) << content.substr(0, 40);
        EXPECT_TRUE(readText(path) == content) << content.substr(0, 40);
    }
}

TEST(SettingsStore, UnusableFileIsKeptAsideBeforeTheFirstWrite) {
    TempDir dir;
    const fs::path path = dir / "settings.json";
    const std::string broken = "{\"oscPort\": 9000, \"renderWidth\": ";  // cut off mid-write
    writeText(path, broken);

    SettingsStore store(path);
    Settings changed = store.settings();
    changed.oscPort = 7000;
    ::testing::internal::CaptureStderr();
    store.setSettings(changed);
    const std::string log = ::testing::internal::GetCapturedStderr();

    auto kept = keptAside(dir.path());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(readText(kept[0]), broken);
    EXPECT_NE(log.find("TALLOWMARK: "), std::string::npos);
    EXPECT_NE(log.find(kept[0].string()), std::string::npos) << log;
    EXPECT_EQ(SettingsStore(path).settings().oscPort, 7000);

    store.noteRecent("/shows/Hamlet.pdf");  // later writes replace the new file only
    EXPECT_EQ(keptAside(dir.path()).size(), 1u);
    EXPECT_EQ(entriesOf(dir.path()).size(), 2u);
}

TEST(SettingsStore, EachUnusableFileGetsItsOwnPlace) {
    // Two damaged files within one second must not share a name.
    TempDir dir;
    const fs::path path = dir / "settings.json";
    for (const char* broken : {"first damaged", "second damaged"}) {
        writeText(path, broken);
        SettingsStore(path).noteRecent("/shows/Hamlet.pdf");
    }
    std::vector<std::string> keptContents;
    for (const auto& kept : keptAside(dir.path())) keptContents.push_back(readText(kept));
    std::sort(keptContents.begin(), keptContents.end());
    EXPECT_EQ(keptContents, (std::vector<std::string>{"first damaged", "second damaged"}));
}

TEST(SettingsStore, UnusableFileThatCannotBeMovedIsNotOverwritten) {
    // A name of 236 bytes leaves room for the temporary file of a write but not
    // for the longer kept-aside name (the limit is 255), so only the move fails.
    TempDir dir;
    const fs::path path = dir / std::string(236, 's');
    writeText(path, "damaged");
    SettingsStore store(path);
    Settings changed;
    changed.oscPort = 7000;
    store.setSettings(changed);
    store.noteRecent("/shows/Hamlet.pdf");
    EXPECT_EQ(store.settings().oscPort, 7000);
    EXPECT_EQ(store.settings().recentDocuments.size(), 1u);
    EXPECT_EQ(readText(path), "damaged");
    EXPECT_EQ(entriesOf(dir.path()).size(), 1u);
}

}  // namespace
}  // namespace tallowmark
