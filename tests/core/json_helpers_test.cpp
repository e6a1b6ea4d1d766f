#include "core/json_helpers.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace tallowmark {
namespace {

struct Sample {
    std::int64_t count = 7;
    double ratio = 0.5;
    std::string name = "default";
    bool flag = true;
    std::vector<std::string> tags;
};

bool readValue(const Json& value, Sample& out) {
    return FieldReader(value)
        .field("count", out.count)
        .field("ratio", out.ratio)
        .field("name", out.name)
        .field("flag", out.flag)
        .field("tags", out.tags)
        .ok();
}

std::optional<Sample> decode(const char* text) {
    auto json = parseJson(text);
    if (!json) return std::nullopt;
    Sample sample;
    if (!readValue(*json, sample)) return std::nullopt;
    return sample;
}

TEST(JsonHelpers, MissingAndNullKeepDefaultsAndNumbersFollowTheIntegerAndRealRules) {
    auto s = decode(R"({"count": null, "unknown": [1,2], "tags": ["a"]})");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->count, 7);
    EXPECT_EQ(s->name, "default");
    EXPECT_EQ(s->tags, std::vector<std::string>{"a"});
    EXPECT_EQ(decode(R"({"ratio": 2})")->ratio, 2.0);       // integer where a real belongs
    EXPECT_EQ(decode(R"({"count": 1e3})")->count, 1000);    // whole real where an integer belongs
    EXPECT_EQ(decode(R"({"count": -5})")->count, -5);
    EXPECT_FALSE(decode(R"({"count": 1.5})"));
    EXPECT_FALSE(decode(R"({"count": 9223372036854775808})"));  // beyond 64 bits
    EXPECT_FALSE(decode(R"({"count": 1e300})"));
    EXPECT_FALSE(decode(R"({"ratio": 1e999})")) << "infinity could never be written back";
}

TEST(JsonHelpers, WrongTypesFailTheWholeRecord) {
    for (const char* text : {R"({"name": 5})", R"({"flag": 1})", R"({"count": "3"})", R"({"tags": ["a", 2]})",
                             R"({"tags": "a"})", R"([1])"}) {
        EXPECT_FALSE(decode(text)) << text;
    }
}

TEST(JsonHelpers, ParseRefusesMalformedDeepAndInvalidUtf8) {
    EXPECT_FALSE(parseJson(""));
    EXPECT_FALSE(parseJson("{\"a\":"));
    EXPECT_FALSE(parseJson("{\"a\":\"\xff\xfe\"}"));
    EXPECT_FALSE(parseJson(std::string(100000, '[') + std::string(100000, ']')));
    EXPECT_TRUE(parseJson(std::string(50, '[') + std::string(50, ']')));
}

TEST(JsonHelpers, DumpSortsKeysAndFlagsNonFinite) {
    Json value = {{"b", 1}, {"a", {{"d", 2}, {"c", 3}}}};
    EXPECT_EQ(dumpJson(value, -1), R"({"a":{"c":3,"d":2},"b":1})");
    EXPECT_TRUE(allFinite(value));
    value["a"]["x"] = Json::array({1.0, std::nan("")});
    EXPECT_FALSE(allFinite(value));
}

}  // namespace
}  // namespace tallowmark
