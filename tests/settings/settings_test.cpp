#include "settings/settings.hpp"

#include <gtest/gtest.h>

namespace tallowmark {
namespace {

std::optional<Settings> decodeText(const std::string& text) {
    const auto json = parseJson(text);
    return json ? decodeSettings(*json) : std::nullopt;
}

// As the store reads the file; it must agree with the reading of a parsed tree.
std::optional<Settings> decodeFileText(const std::string& text) {
    FileNotes notes;
    return decodeSettingsFile(text, notes);
}

TEST(SettingsDecode, ReadingMigratesEarlierFiles) {
    Json earlier = encodeSettings(Settings{})["cueTypes"];  // the default list as earlier versions wrote it
    earlier[0]["color"] = "#d8391d";
    Json own = earlier;
    own[4]["color"] = "#cfd3dd";  // one more difference: the operator's own list

    // Each case: a file, and the keys that differ from the defaults after reading it.
    const std::pair<std::string, std::string> cases[] = {
        {R"({"theme": 0.8})", R"({"theme": 0.8, "themeName": "deep"})"},
        {R"({"theme": 0.5})", R"({"theme": 0.5, "themeName": "light"})"},
        {R"({"theme": 0.2, "themeName": null})", R"({"theme": 0.2, "themeName": "light"})"},
        {R"({"theme": 0.2, "themeName": "dark"})", R"({"theme": 0.2, "themeName": "dark"})"},
        {R"({"glowTarget": "next"})", "{}"},
        {R"({"glowTarget": "next", "glowTargetChosen": true})", R"({"glowTarget": "next", "glowTargetChosen": true})"},
        {R"({"glowTarget": "cursor"})", R"({"glowTarget": "cursor"})"},
        {R"({"cueTypes": []})", "{}"},
        {R"({"cueTypes": )" + dumpJson(earlier, -1) + "}", "{}"},
        {R"({"cueTypes": )" + dumpJson(own, -1) + "}", R"({"cueTypes": )" + dumpJson(own, -1) + "}"},
        // Reading applies none of the page's ranges; null and unknown keys are ignored.
        {R"({"renderWidth": 100.0, "pagesPerSpread": 7, "themeName": "blue", "oscEnabled": null, "x": [1]})",
         R"({"renderWidth": 100, "pagesPerSpread": 7, "themeName": "blue"})"},
    };
    for (const auto& [text, changes] : cases) {
        Json expected = encodeSettings(Settings{});
        expected.merge_patch(*parseJson(changes));
        for (const auto& decoded : {decodeText(text), decodeFileText(text)})
            EXPECT_EQ(decoded ? encodeSettings(*decoded) : Json(), expected) << text;
    }
}

TEST(SettingsDecode, WrongTypesAndMissingRequiredKeysFailTheWholeRecord) {
    for (const char* text : {R"({"oscPort": "53100"})", R"({"recentDocuments": ["/a.pdf", 2]})",
                             R"({"cueTypes": [{"name": "CUE"}]})", R"({"midiMap": [{"note": 36}]})",
                             R"({"midiMap": [{"note": 36, "action": "go", "channel": 1.5}]})", R"([])"})
        EXPECT_TRUE(!decodeText(text) && !decodeFileText(text)) << text;
}

TEST(SettingsDecode, LongListsKeepTheirFirstEntriesAndWhatFollowsThemIsRead) {
    // Keys in sorted order: the file reader passes over the long lists unkept and reads on.
    Json file = {{"oscPort", 9000}, {"themeName", "dark"}};
    for (int n = 0; n < 50000; ++n) file["recentDocuments"].push_back("/s/" + std::to_string(n) + ".pdf");
    for (int n = 0; n < 20000; ++n)
        file["cueTypes"].push_back({{"name", "T" + std::to_string(n)}, {"color", "#123456"}});
    for (int n = 0; n < 2100; ++n)
        file["midiMap"].push_back({{"note", n % 128}, {"action", "go"}, {"channel", n / 128}});
    for (int n = 0; n < 15; ++n) file["readingSizes"].push_back({{"path", "/s/" + std::to_string(n) + ".pdf"}});
    const std::string text = dumpJson(file, -1);
    for (const auto& decoded : {decodeText(text), decodeFileText(text)}) {
        ASSERT_TRUE(decoded);
        EXPECT_EQ(std::tie(decoded->oscPort, decoded->themeName), std::tuple(9000, "dark"));
        ASSERT_EQ(decoded->recentDocuments.size(), maxRecentDocuments);
        EXPECT_EQ(decoded->recentDocuments.back(), "/s/9.pdf");
        ASSERT_EQ(decoded->cueTypes.size(), maxCueTypes);
        EXPECT_EQ(decoded->cueTypes.back().name, "T23");
        ASSERT_EQ(decoded->midiMap.size(), maxMidiBindings);
        EXPECT_EQ(decoded->midiMap.back(), (MIDIBinding{2047 % 128, "go", 2047 / 128}));
        ASSERT_EQ(decoded->readingSizes.size(), maxReadingSizes);
        EXPECT_EQ(decoded->readingSizes.back(), (ReadingSize{"/s/9.pdf", 1, 1.0})) << "the newest, first, are kept";
    }
}

}  // namespace
}  // namespace tallowmark
