#include "settings/settings.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace tallowmark {
namespace {

std::optional<Settings> decodeText(const std::string& text) {
    auto json = parseJson(text);
    if (!json) return std::nullopt;
    return decodeSettings(*json);
}

std::vector<CueType> earlierDefaultCueTypes() {
    auto types = defaultCueTypes();
    types[0].color = "#d8391d";
    return types;
}

std::string cueTypesJson(const std::vector<CueType>& types) {
    Json list = Json::array();
    for (const auto& t : types) list.push_back(Json{{"name", t.name}, {"color", t.color}});
    return dumpJson(list, -1);
}

TEST(SettingsDecode, ReadingMigratesEarlierFiles) {
    auto otherList = earlierDefaultCueTypes();
    otherList[4].color = "#cfd3dd";  // one more difference: the operator's own list
    const std::string shortList = R"([{"name": "CUE", "color": "#d8391d"}])";

    struct Case {
        std::string text;
        std::function<void(Settings&)> expect;  // applied to the defaults
    };
    const std::vector<Case> cases = {
        {R"({"theme": 0.2})", [](Settings& s) { s.theme = 0.2; s.themeName = "light"; }},
        {R"({"theme": 0.8})", [](Settings& s) { s.theme = 0.8; s.themeName = "deep"; }},
        {R"({"theme": 0.5})", [](Settings& s) { s.theme = 0.5; s.themeName = "light"; }},
        {R"({"theme": 0.2, "themeName": null})", [](Settings& s) { s.theme = 0.2; s.themeName = "light"; }},
        {R"({"theme": 0.2, "themeName": "dark"})", [](Settings& s) { s.theme = 0.2; s.themeName = "dark"; }},
        {R"({"glowTarget": "next"})", [](Settings&) {}},
        {R"({"glowTarget": "next", "glowTargetChosen": true})",
         [](Settings& s) { s.glowTarget = "next"; s.glowTargetChosen = true; }},
        {R"({"glowTarget": "cursor"})", [](Settings& s) { s.glowTarget = "cursor"; }},
        {R"({"cueTypes": []})", [](Settings&) {}},
        {R"({"cueTypes": )" + cueTypesJson(earlierDefaultCueTypes()) + "}", [](Settings&) {}},
        {R"({"cueTypes": )" + cueTypesJson(otherList) + "}", [&](Settings& s) { s.cueTypes = otherList; }},
        {R"({"cueTypes": )" + shortList + "}", [](Settings& s) { s.cueTypes = {{"CUE", "#d8391d"}}; }},
        // Reading applies none of the page's ranges; null and unknown keys are ignored.
        {R"({"renderWidth": 100.0, "pagesPerSpread": 7, "themeName": "blue", "oscEnabled": null, "x": [1]})",
         [](Settings& s) { s.renderWidth = 100; s.pagesPerSpread = 7; s.themeName = "blue"; }},
    };
    for (const auto& c : cases) {
        Settings expected;
        c.expect(expected);
        auto decoded = decodeText(c.text);
        ASSERT_TRUE(decoded) << c.text;
        EXPECT_EQ(*decoded, expected) << c.text;
    }
}

TEST(SettingsDecode, WrongTypesAndMissingRequiredKeysFailTheWholeRecord) {
    for (const char* text : {
             R"({"oscPort": "53100"})",
             R"({"renderWidth": 1600.5})",
             R"({"oscEnabled": 1})",
             R"({"recentDocuments": ["/a.pdf", 2]})",
             R"({"cueTypes": [{"name": "CUE"}]})",
             R"({"cueTypes": {"name": "CUE", "color": "#ffffff"}})",
             R"({"midiMap": [{"note": 36}]})",
             R"({"midiMap": [{"note": 36, "action": "go", "channel": 1.5}]})",
             R"([])",
             R"("settings")",
         }) {
        EXPECT_FALSE(decodeText(text)) << text;
    }
}

}  // namespace
}  // namespace tallowmark
