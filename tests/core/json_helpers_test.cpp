#include "core/json_helpers.hpp"

#include <glib.h>
#include <gtest/gtest.h>

#include <cmath>

namespace tallowmark {
namespace {

using namespace std::string_literals;

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
                             R"({"tags": "a"})", R"([1])"})
        EXPECT_FALSE(decode(text)) << text;
}

std::string nested(int depth, const std::string& inner = "") {
    std::string text;
    for (int i = 0; i < depth; ++i) text += i % 2 ? "{\"k\":" : "[";
    text += inner.empty() ? (depth % 2 ? "[]" : "{}") : inner;
    for (int i = depth - 1; i >= 0; --i) text += i % 2 ? "}" : "]";
    return text;
}

TEST(JsonHelpers, ParseRefusesMalformedDeepAndInvalidUtf8) {
    EXPECT_FALSE(parseJson(""));
    EXPECT_FALSE(parseJson("{\"a\":"));
    EXPECT_FALSE(parseJson("{\"a\":\"\xff\xfe\"}"));
    EXPECT_FALSE(parseJson("[1]]"));

    // Arrays and objects count alike; 256 levels are allowed, 257 are not.
    EXPECT_TRUE(parseJson(nested(255)));
    EXPECT_FALSE(parseJson(nested(256)));
    EXPECT_TRUE(parseJson(nested(7, "1"), 7));
    EXPECT_FALSE(parseJson(nested(7, "1"), 6));
    // Brackets inside texts are not nesting, also after an escaped quote.
    const std::string brackets(1000, '[');
    EXPECT_EQ(parseJson("[\"" + brackets + "\"]")->at(0), brackets);
    EXPECT_EQ(parseJson(R"({"a\"[": "\\", "b": ")" + brackets + "\"}")->at("b"), brackets);
    // A quote that ends a text right after an escaped backslash closes it: these brackets count.
    EXPECT_FALSE(parseJson(R"(["\\", )" + nested(256) + "]"));
}

struct Holder {
    std::vector<Sample> items;
};

bool readValue(const Json& value, Holder& out) { return FieldReader(value).field("items", out.items).ok(); }

TEST(JsonHelpers, ParseCostGrowsLinearlyWithTheNumberOfObjects) {
    // 200,000 empty objects in one list: a quadratic parse (a parser callback
    // rescanning the parent after each object) needs minutes, beyond the
    // test's time-out; a linear one a fraction of a second.
    std::string text = R"({"items": [)";
    for (int i = 0; i < 200000; ++i) text += "{},";
    text += R"({"count": 3}]})";
    const auto holder = decodeRecord<Holder>(text);
    ASSERT_TRUE(holder);
    ASSERT_EQ(holder->items.size(), 200001u);
    EXPECT_EQ(holder->items.front().count, 7);
    EXPECT_EQ(holder->items.back().count, 3);
}

TEST(JsonHelpers, PathsKeepTheirExactBytesThroughTheFileForm) {
    struct Case {
        std::string bytes;
        std::string stored;  // the text in the file; empty: escaped, checked by the round trip only
    };
    const Case cases[] = {
        {"/shows/Hamlet.pdf", "/shows/Hamlet.pdf"},
        {"/shows/\xc3\x84\xc3\xa4ni 100%.pdf", "/shows/\xc3\x84\xc3\xa4ni 100%.pdf"},  // valid UTF-8 stays as it is
        {"", ""},
        {"/levy/K\xe4sikirjoitus.pdf", "\0/levy/K%E4sikirjoitus.pdf"s},  // Latin-1
        {"/a/100%\xff.pdf", "\0/a/100%25%FF.pdf"s},
        {"/a/\xc3\xa4\xe4", "\0/a/\xc3\xa4%E4"s},  // valid characters beside invalid bytes
        {"/a/\xed\xa0\x80", "\0/a/%ED%A0%80"s},          // an encoded surrogate
        {"/a/\xc0\xaf", "\0/a/%C0%AF"s},                  // an overlong slash
        {"/a/\xe2\x82", "\0/a/%E2%82"s},                  // cut off mid-character
        {"\0x"s, "\0\0x"s},                  // only so the mark stays unambiguous
    };
    std::vector<std::string> all;
    for (const Case& c : cases) {
        const Json stored = pathToJson(c.bytes);
        ASSERT_TRUE(stored.is_string());
        EXPECT_EQ(stored.get<std::string>(), c.stored) << c.bytes;
        // Through the text form, which replaces any invalid UTF-8 it is handed.
        const std::string text = dumpJson(Json::array({stored}), 2);
        EXPECT_TRUE(g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) << text;
        const auto back = parseJson(text);
        ASSERT_TRUE(back) << text;
        std::string bytes = "unchanged";
        ASSERT_TRUE(readPath(back->at(0), bytes)) << text;
        EXPECT_EQ(bytes, c.bytes) << text;
        all.push_back(c.bytes);
    }
    std::vector<std::string> list;
    ASSERT_TRUE(readPathList(*parseJson(dumpJson(pathListToJson(all), -1)), list));
    EXPECT_EQ(list, all);

    // A malformed escape or a value that is not a text is refused, never guessed at.
    for (const Json& bad : {Json("\0%4"s), Json("\0a%zz"s), Json("\0%"s),
                            Json(5), Json::array({"/a"})}) {
        std::string bytes;
        EXPECT_FALSE(readPath(bad, bytes)) << bad.dump();
    }
    EXPECT_FALSE(readPathList(Json::array({"/a", 1}), list));
    EXPECT_EQ(list, all) << "a refused list leaves the old value";
}

// A listed record with every form of field.
struct Entry {
    std::string key;
    std::optional<std::int64_t> channel;
    std::string path = "/default.pdf";
    std::vector<Sample> samples;
};

}  // namespace

template <>
struct RecordFields<Entry> {
    static constexpr auto list = std::tuple{
        FieldKey{"key", &Entry::key, RequiredForm{}}, FieldKey{"channel", &Entry::channel},
        FieldKey{"path", &Entry::path, PathForm{}}, FieldKey{"samples", &Entry::samples}};
};

namespace {

Json toJson(const Sample& sample) {
    return {{"count", sample.count}, {"ratio", sample.ratio}, {"name", sample.name}, {"flag", sample.flag},
            {"tags", sample.tags}};
}

TEST(JsonHelpers, ListedFieldsReadAndWriteByTheirForm) {
    // Each case: the text read, and the record written back (empty: the read fails).
    const std::pair<std::string, std::string> cases[] = {
        {R"({"key": "a"})", R"({"key":"a","path":"/default.pdf","samples":[]})"},
        {R"({"key": "a", "channel": null, "path": null})", R"({"key":"a","path":"/default.pdf","samples":[]})"},
        {R"({"key": "a", "channel": 3, "samples": [{"count": 2}]})",
         R"({"channel":3,"key":"a","path":"/default.pdf","samples":[{"count":2,"flag":true,"name":"default",)"
         R"("ratio":0.5,"tags":[]}]})"},
        {"{\"key\": \"a\", \"path\": \"\\u0000/K%E4.pdf\"}", "{\"key\":\"a\",\"path\":\"\\u0000/K%E4.pdf\",\"samples\":[]}"},
        {R"({"channel": 3})", ""},
        {R"({"key": null})", ""},
        {R"({"key": "a", "channel": 1.5})", ""},
        {R"({"key": "a", "path": "\u0000%zz"})", ""},
        {R"({"key": "a", "samples": [{"count": "2"}]})", ""},
    };
    for (const auto& [text, written] : cases) {
        Entry entry;
        const bool read = readFields(*parseJson(text), entry);
        EXPECT_EQ(read, !written.empty()) << text;
        if (read) {
            EXPECT_EQ(dumpJson(fieldsToJson(entry), -1), written) << text;
        }
    }
    Entry latin1;
    latin1.path = "/K\xe4.pdf";
    Entry back;
    latin1.key = "b";
    ASSERT_TRUE(readFields(*parseJson(dumpJson(fieldsToJson(latin1), -1)), back));
    EXPECT_EQ(back.path, latin1.path);
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
