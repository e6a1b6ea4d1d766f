#include "settings/settings_rules.hpp"

#include <gtest/gtest.h>

namespace tallowmark {
namespace {

Json json(const std::string& text) {
    auto value = parseJson(text);
    EXPECT_TRUE(value) << text;
    return value.value_or(Json());
}

// Each case: what the page sends, and the keys of the settings file that must change ("{}": none). The whole record
// is compared, so a key taken wrongly fails the case too.
TEST(PageSettings, EachKeyFollowsItsTypeAndRule) {
    const std::pair<std::string, std::string> cases[] = {
        {R"({"renderWidth": 100, "cueLabelFontPx": 4, "theme": -0.5, "pagesPerSpread": 3})",
         R"({"renderWidth": 600, "cueLabelFontPx": 10, "theme": 0, "pagesPerSpread": 2})"},
        {R"({"renderWidth": 5000, "cueLabelFontPx": 99, "theme": 1.7, "pagesPerSpread": 1.0})",
         R"({"renderWidth": 3000, "cueLabelFontPx": 32, "theme": 1, "pagesPerSpread": 1})"},
        {R"({"renderWidth": 900.0, "theme": 0.25, "themeName": "light", "oscPort": 99999, "mscDeviceFilter": -5})",
         R"({"renderWidth": 900, "theme": 0.25, "themeName": "light", "oscPort": 99999, "mscDeviceFilter": -5})"},
        {R"({"renderWidth": "900", "cueLabelFontPx": 12.5, "theme": "0.5", "themeName": "blue",
             "pagesPerSpread": "1", "oscPort": "53100", "glowTarget": 1})", "{}"},
        {R"({"glowTarget": "next"})", R"({"glowTarget": "next", "glowTargetChosen": true})"},
        {R"({"glowTargetChosen": true, "recentDocuments": [], "somethingElse": 1})", "{}"},
        {R"({"oscEnabled": false, "dimmed": true, "dropPageNumbers": true, "cueSnapWords": false})",
         R"({"oscEnabled": false, "dimmed": true, "dropPageNumbers": true, "cueSnapWords": false})"},
        {R"({"oscEnabled": 0, "dimmed": "true", "maxText": null, "memosVisible": 1})", "{}"},
        // Anything but an object changes nothing.
        {"null", "{}"}, {R"("renderWidth")", "{}"}, {R"([{"renderWidth": 700}])", "{}"},
        {R"({"cueTypes": "CUE"})", "{}"},
        // No entry survives: the old list stays.
        {R"({"cueTypes": [{"name": "ABCDEFGHIJKLM", "color": "#ffffff"}, {"name": " \n\t"}, {"name": 5}, "CUE"]})", "{}"},
        {R"({"cueTypes": [{"name": " \u3000ABCDEFGHIJKL\n", "color": "#ABCdef"}]})",
         R"({"cueTypes": [{"name": "ABCDEFGHIJKL", "color": "#ABCdef"}]})"},
        // Twelve characters in fourteen bytes; thirteen characters are too many.
        {R"({"cueTypes": [{"name": "ÄÄNITEHOSTE1"}, {"name": "ÄÄNITEHOSTE12"}]})",
         R"({"cueTypes": [{"name": "ÄÄNITEHOSTE1", "color": "#d8391d"}]})"},
        // Characters as the operator sees them: a letter with a combining mark, or a flag of two regional indicators,
        // is one. Twelve of either are 24 code points and fit; thirteen do not. A NUL is none.
        {R"({"cueTypes": [{"name": "A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308"},
                          {"name": "A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308"},
                          {"name": "🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮"}, {"name": "🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮"},
                          {"name": "A\u0000B"}]})",
         R"({"cueTypes": [{"name": "A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308A\u0308", "color": "#d8391d"},
                          {"name": "🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮🇫🇮", "color": "#d8391d"}]})"},
        {R"({"cueTypes": [{"name": "A", "color": "#12345g"}, {"name": "B", "color": "#abcdef0"},
                          {"name": "C", "color": " #abcdef"}, {"name": "D", "color": 5}]})",
         R"({"cueTypes": [{"name": "A", "color": "#d8391d"}, {"name": "B", "color": "#d8391d"},
                          {"name": "C", "color": "#d8391d"}, {"name": "D", "color": "#d8391d"}]})"},
        {R"({"midiMap": []})", R"({"midiMap": []})"},
        {R"({"midiMap": {"note": 40, "action": "go"}})", "{}"},
        {R"({"midiMap": [{"note": 40, "action": "go", "channel": -1}, {"note": 41.0, "action": "back", "channel": 0},
                         {"note": 42, "action": "x", "channel": 2.5}, {"note": 43, "action": "y", "channel": "3"},
                         {"note": 44, "action": "z", "channel": 15}]})",
         R"({"midiMap": [{"note": 40, "action": "go"}, {"note": 41, "action": "back", "channel": 0},
                         {"note": 42, "action": "x"}, {"note": 43, "action": "y"},
                         {"note": 44, "action": "z", "channel": 15}]})"},
        {R"({"midiMap": [{"note": "40", "action": "go"}, {"note": 40.5, "action": "go"}, {"note": 40},
                         {"action": "go"}, {"note": 40, "action": 1}, 7]})", R"({"midiMap": []})"},
        {R"({"readingSize": {"path": "/s/a.pdf", "pages": 3, "zoom": 9}})",
         R"({"readingSizes": [{"path": "/s/a.pdf", "pages": 2, "zoom": 3.0}]})"},
        {R"({"readingSize": {"path": "/s/a.pdf", "zoom": 0.1}})",
         R"({"readingSizes": [{"path": "/s/a.pdf", "pages": 1, "zoom": 0.5}]})"},
        {R"({"readingSize": {"pages": 1}, "readingSizes": [{"path": "/s/a.pdf"}]})", "{}"},
        {R"({"readingSize": {"path": "", "zoom": 1}})", "{}"},
        {R"({"readingSize": {"path": ")" + std::string(5000, 'a') + R"("}})", "{}"},
        {R"({"readingSize": {"path": "/s/a.pdf", "zoom": "1"}})", "{}"},
        // Recognition languages name data files: nothing that could reach outside their folder, no repeats.
        {R"({"ocrLanguages": "eng+fin"})", R"({"ocrLanguages": "eng+fin"})"},
        {R"({"ocrLanguages": "chi_sim+script-Latin"})", R"({"ocrLanguages": "chi_sim+script-Latin"})"},
        {R"({"ocrLanguages": "../eng"})", "{}"}, {R"({"ocrLanguages": "eng+"})", "{}"},
        {R"({"ocrLanguages": "eng+eng"})", "{}"}, {R"({"ocrLanguages": "eng fin"})", "{}"},
        {R"({"ocrLanguages": 5})", "{}"},
    };
    const Settings current{.recentDocuments = {"/shows/Hamlet.pdf"}};
    for (const auto& [dict, changes] : cases) {
        Json expected = encodeSettings(current);
        expected.merge_patch(json(changes));
        EXPECT_EQ(encodeSettings(applyPageSettings(current, json(dict))), expected) << dict;
    }
}

// Only the first 24 cue types count, skipped ones included; no more bindings than the settings file keeps (what the
// page sets survives a save and a launch); reading sizes newest first, one per path, no more than the recent list
// holds.
TEST(PageSettings, ListsStayWithinTheirBounds) {
    Json types = Json::array(), map = Json::array({7});
    for (int i = 0; i < 30; ++i) types.push_back({{"name", i == 23 ? "" : "T" + std::to_string(i)}});
    for (int i = 0; i < 2100; ++i) map.push_back({{"note", i % 128}, {"action", "go"}});
    Settings s = applyPageSettings(Settings{}, Json{{"cueTypes", types}, {"midiMap", map}});
    ASSERT_EQ(s.cueTypes.size(), 23u);
    EXPECT_EQ(s.cueTypes.back().name, "T22");
    ASSERT_EQ(s.midiMap.size(), maxMidiBindings);
    EXPECT_EQ(s.midiMap.back().note, 2047 % 128);
    for (int n = 0; n < 12; ++n) s = applyPageSettings(s, {{"readingSize", {{"path", std::to_string(n % 11)}}}});
    ASSERT_EQ(s.readingSizes.size(), maxReadingSizes);
    EXPECT_EQ(s.readingSizes[0].path, "0");
    EXPECT_EQ(s.readingSizes[1].path, "10");
    EXPECT_EQ(s.readingSizes.back().path, "2");
}

TEST(PageSettings, DictionaryHasTheThirtyOneKeysAndComesBackUnchanged) {
    // Every setting away from its default, so each one must make the way back.
    const Settings s{.oscEnabled = false, .oscPort = 9001, .oscLocalOnly = false, .oscDeskHosts = {"10.0.0.5"},
                     .oscGoUnknownNumber = "ignore", .goGuardMs = 150, .intervalMinutes = 12, .oscFeedback = {{"10.0.0.6", 9000}},
                     .followSharing = true, .followPort = 54000, .followToken = "0123456789abcdef0123456789abcdef",
                     .midiEnabled = false,
                     .midiMap = {{36, "go", std::nullopt}, {37, "back", 4}}, .mscEnabled = false,
                     .mscDeviceFilter = 3, .mscBareGoFiresStandby = false, .renderWidth = 2000,
                     .recentDocuments = {"/shows/Hamlet.pdf"}, .dimmed = true, .theme = 0.4, .themeName = "dark",
                     .pagesPerSpread = 2, .maxText = true, .glowTarget = "next", .glowTargetChosen = true,
                     .dropPageNumbers = true, .memosVisible = false, .cueLabelFontPx = 20, .cueLabelAdaptive = false,
                     .cueSnapWords = false, .ocrLanguages = "eng+fin", .cueTypes = {{"MUSA", "#102030"}},
                     .readingSizes = {{"/shows/Hamlet.pdf", 2, 1.25}}};
    const Json dict = settingsDictionary(s);
    EXPECT_EQ(dict.size(), 31u);
    EXPECT_FALSE(dict.contains("lockedScripts"));
    EXPECT_FALSE(dict.contains("followToken"));  // the secret stays in the core
    EXPECT_FALSE(dict.contains("glowTargetChosen"));
    EXPECT_EQ(dict["midiMap"][0]["channel"], -1);
    EXPECT_EQ(dict["midiMap"][1]["channel"], 4);
    EXPECT_EQ(dict["recentDocuments"], Json::array({"/shows/Hamlet.pdf"}));

    // What the page was shown, sent back through the text form, changes nothing.
    const Settings start{.followSharing = s.followSharing, .followToken = s.followToken,
                         .recentDocuments = s.recentDocuments, .readingSizes = s.readingSizes};
    EXPECT_EQ(applyPageSettings(start, json(dumpJson(dict, -1))), s);
}

}  // namespace
}  // namespace tallowmark
