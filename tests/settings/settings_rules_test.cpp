#include "settings/settings_rules.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace tallowmark {
namespace {

Json json(const char* text) {
    auto value = parseJson(text);
    EXPECT_TRUE(value) << text;
    return value.value_or(Json());
}

struct Case {
    const char* dict;
    std::function<void(Settings&)> expect;  // applied to the settings before the call
};

void checkCases(const std::vector<Case>& cases) {
    Settings current;
    current.recentDocuments = {"/shows/Hamlet.pdf"};
    for (const auto& c : cases) {
        Settings expected = current;
        c.expect(expected);
        EXPECT_EQ(applyPageSettings(current, json(c.dict)), expected) << c.dict;
    }
}

const auto unchanged = [](Settings&) {};

TEST(PageSettings, ScalarKeysFollowTheirTypeAndRange) {
    // Every case compares the whole record, so a key taken wrongly fails it too.
    checkCases({
        {R"({"renderWidth": 100, "cueLabelFontPx": 4, "theme": -0.5, "pagesPerSpread": 3})",
         [](Settings& s) { s.renderWidth = 600; s.cueLabelFontPx = 10; s.theme = 0; s.pagesPerSpread = 2; }},
        {R"({"renderWidth": 5000, "cueLabelFontPx": 99, "theme": 1.7, "pagesPerSpread": 1.0})",
         [](Settings& s) { s.renderWidth = 3000; s.cueLabelFontPx = 32; s.theme = 1; s.pagesPerSpread = 1; }},
        {R"({"renderWidth": 900.0, "theme": 0.25, "themeName": "light", "oscPort": 99999, "mscDeviceFilter": -5})",
         [](Settings& s) {
             s.renderWidth = 900; s.theme = 0.25; s.themeName = "light"; s.oscPort = 99999; s.mscDeviceFilter = -5;
         }},
        {R"({"renderWidth": "900", "cueLabelFontPx": 12.5, "theme": "0.5", "themeName": "blue",
             "pagesPerSpread": "1", "oscPort": "53100", "glowTarget": 1})", unchanged},
        {R"({"glowTarget": "next"})", [](Settings& s) { s.glowTarget = "next"; s.glowTargetChosen = true; }},
        {R"({"glowTargetChosen": true, "recentDocuments": [], "somethingElse": 1})", unchanged},
        {R"({"oscEnabled": false, "dimmed": true, "dropPageNumbers": true, "cueSnapWords": false})",
         [](Settings& s) { s.oscEnabled = false; s.dimmed = true; s.dropPageNumbers = true; s.cueSnapWords = false; }},
        {R"({"oscEnabled": 0, "dimmed": "true", "maxText": null, "memosVisible": 1})", unchanged},
    });
}

TEST(PageSettings, CueTypeRules) {
    checkCases({
        {R"({"cueTypes": []})", unchanged},
        {R"({"cueTypes": "CUE"})", unchanged},
        {R"({"cueTypes": [{"name": "ABCDEFGHIJKLM", "color": "#ffffff"}, {"name": " \n\t"}, {"name": 5}, "CUE"]})",
         unchanged},
        {R"({"cueTypes": [{"name": " \u3000ABCDEFGHIJKL\n", "color": "#ABCdef"}]})",
         [](Settings& s) { s.cueTypes = {{"ABCDEFGHIJKL", "#ABCdef"}}; }},
        // Twelve characters in fourteen bytes; thirteen characters are too many.
        {R"({"cueTypes": [{"name": "ÄÄNITEHOSTE1"}, {"name": "ÄÄNITEHOSTE12"}]})",
         [](Settings& s) { s.cueTypes = {{"ÄÄNITEHOSTE1", "#d8391d"}}; }},
        {R"({"cueTypes": [{"name": "A", "color": "red"}, {"name": "B", "color": "#abcdef0"},
                          {"name": "C", "color": " #abcdef"}, {"name": "D", "color": 5}, {"name": "E", "color": "#12345g"}]})",
         [](Settings& s) {
             s.cueTypes = {{"A", "#d8391d"}, {"B", "#d8391d"}, {"C", "#d8391d"}, {"D", "#d8391d"}, {"E", "#d8391d"}};
         }},
    });

    // Only the first 24 entries count, skipped ones included: 23 survive here.
    Json list = Json::array();
    for (int i = 0; i < 30; ++i) list.push_back({{"name", i == 23 ? "" : "T" + std::to_string(i)}});
    const auto types = applyPageSettings(Settings{}, Json{{"cueTypes", list}}).cueTypes;
    ASSERT_EQ(types.size(), 23u);
    EXPECT_EQ(types.back().name, "T22");
}

TEST(PageSettings, MidiMapRules) {
    checkCases({
        {R"({"midiMap": []})", [](Settings& s) { s.midiMap.clear(); }},
        {R"({"midiMap": {"note": 40, "action": "go"}})", unchanged},
        {R"({"midiMap": [{"note": 40, "action": "go", "channel": -1}, {"note": 41.0, "action": "back", "channel": 0},
                         {"note": 42, "action": "x", "channel": 2.5}, {"note": 43, "action": "y", "channel": "3"},
                         {"note": 44, "action": "z", "channel": 15}]})",
         [](Settings& s) {
             s.midiMap = {{40, "go", std::nullopt}, {41, "back", 0}, {42, "x", std::nullopt},
                          {43, "y", std::nullopt}, {44, "z", 15}};
         }},
        {R"({"midiMap": [{"note": "40", "action": "go"}, {"note": 40.5, "action": "go"}, {"note": 40},
                         {"action": "go"}, {"note": 40, "action": 1}, 7]})",
         [](Settings& s) { s.midiMap.clear(); }},
    });
}

TEST(PageSettings, AnythingButAnObjectChangesNothing) {
    Settings current;
    current.oscPort = 9000;
    for (const char* text : {"[]", "null", "\"renderWidth\"", "5", "[{\"renderWidth\": 700}]"}) {
        EXPECT_EQ(applyPageSettings(current, json(text)), current) << text;
    }
}

TEST(PageSettings, DictionaryHasTheTwentyTwoKeysAndComesBackUnchanged) {
    Settings s;
    s.oscPort = 9001;
    s.midiMap = {{36, "go", std::nullopt}, {37, "back", 4}};
    s.renderWidth = 2000;
    s.theme = 0.4;
    s.themeName = "dark";
    s.pagesPerSpread = 1;
    s.glowTarget = "next";
    s.glowTargetChosen = true;
    s.cueLabelFontPx = 20;
    s.cueTypes = {{"MUSA", "#102030"}};
    s.recentDocuments = {"/shows/Hamlet.pdf"};

    const Json dict = settingsDictionary(s);
    EXPECT_EQ(dict.size(), 22u);
    EXPECT_FALSE(dict.contains("glowTargetChosen"));
    EXPECT_EQ(dict["midiMap"][0]["channel"], -1);
    EXPECT_EQ(dict["midiMap"][1]["channel"], 4);
    EXPECT_EQ(dict["recentDocuments"], Json::array({"/shows/Hamlet.pdf"}));

    // What the page was shown, sent back through the text form, changes nothing.
    Settings start;
    start.recentDocuments = s.recentDocuments;
    EXPECT_EQ(applyPageSettings(start, json(dumpJson(dict, -1).c_str())), s);
}

}  // namespace
}  // namespace tallowmark
