#include "core/text_repair.hpp"

#include <gtest/gtest.h>

#include "core/json_helpers.hpp"

namespace tallowmark {
namespace {

using namespace std::string_literals;

constexpr const char* replacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

TEST(TextRepair, EachInvalidByteBecomesOneReplacementCharacter) {
    const std::pair<std::string, std::string> cases[] = {
        {"Valot sis\xE4\xE4n", "Valot sis"s + replacement + replacement + "n"},  // Latin-1
        {"a\xC3", "a"s + replacement},                                            // cut off mid-character
        {"\xC0\xAF", ""s + replacement + replacement},                            // an overlong slash
        {"\xED\xA0\x80", ""s + replacement + replacement + replacement},          // an encoded surrogate
        {"\xFF\0b\xFF"s, replacement + "\0b"s + replacement},                     // a NUL stays (the parser's end)
        {"\xC3\x84\xC3\xA4ni \xF0\x9F\x8E\xAD", "\xC3\x84\xC3\xA4ni \xF0\x9F\x8E\xAD"},        // sound text
    };
    for (const auto& [damaged, repaired] : cases) {
        std::string text = damaged;
        EXPECT_EQ(repairUtf8(text), damaged != repaired) << damaged;
        EXPECT_EQ(text, repaired) << damaged;
    }
}

TEST(TextRepair, OnlyEscapesOfLoneSurrogatesAreReplaced) {
    const std::pair<const char*, const char*> cases[] = {
        {R"(["a\ud800b"])", R"(["a\uFFFDb"])"},                     // high alone
        {R"(["\udc00"])", R"(["\uFFFD"])"},                         // low alone
        {R"(["\ud800"])", R"(["\uFFFD"])"},                         // high at the end of its text
        {R"(["\ud800\u0041"])", R"(["\uFFFD\u0041"])"},             // high before another character
        {R"(["\ud800\ud83d\ude00"])", R"(["\uFFFD\ud83d\ude00"])"},  // high before a pair
        {R"(["\udc00\udc00"])", R"(["\uFFFD\uFFFD"])"},
        {R"(["\\\ud800"])", R"(["\\\uFFFD"])"},                     // after an escaped backslash
        {R"({"\ud800": 1})", R"({"\uFFFD": 1})"},                   // in a key
    };
    for (const auto& [damaged, repaired] : cases) {
        std::string text = damaged;
        EXPECT_TRUE(repairSurrogateEscapes(text)) << damaged;
        EXPECT_EQ(text, repaired) << damaged;
        EXPECT_TRUE(parseJson(text)) << "the parser takes the repaired text: " << text;
    }
    for (const char* sound : {R"(["\ud83d\ude00"])", R"(["\uD83D\uDE00"])", R"(["\\ud800"])", R"(["\u00e4\\"])",
                              R"(["\ud8"])", R"(["\\"])"}) {
        std::string text = sound;
        EXPECT_FALSE(repairSurrogateEscapes(text)) << sound;
        EXPECT_EQ(text, sound);
    }
}

TEST(TextRepair, SoundTextIsNotCopiedAndDamagedTextGetsBothRepairs) {
    EXPECT_FALSE(repairedJsonText(R"({"a": "\ud83d\ude00 \u00e4"})"));
    const auto repaired = repairedJsonText("{\"a\": \"\xFF\\udfff\"}");
    ASSERT_TRUE(repaired);
    EXPECT_EQ(*repaired, "{\"a\": \""s + replacement + "\\uFFFD\"}");
}

}  // namespace
}  // namespace tallowmark
