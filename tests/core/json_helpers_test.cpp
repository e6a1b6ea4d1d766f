#include "core/json_helpers.hpp"

#include <glib.h>
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "core/text_repair.hpp"

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
    return FieldReader(value).field("count", out.count).field("ratio", out.ratio).field("name", out.name)
        .field("flag", out.flag).field("tags", out.tags).ok();
}

Json toJson(const Sample& sample) {
    return {{"count", sample.count}, {"ratio", sample.ratio}, {"name", sample.name}, {"flag", sample.flag},
            {"tags", sample.tags}};
}

TEST(JsonHelpers, NumbersFollowTheIntegerAndRealRulesAndAWrongTypeFailsTheWholeRecord) {
    const auto s = decodeRecord<Sample>(R"({"count": null, "unknown": [1,2], "tags": ["a"]})");  // missing and null keep defaults
    ASSERT_TRUE(s);
    EXPECT_EQ(toJson(*s), toJson(Sample{.tags = {"a"}}));
    EXPECT_EQ(decodeRecord<Sample>(R"({"ratio": 2})")->ratio, 2.0);     // integer where a real belongs
    EXPECT_EQ(decodeRecord<Sample>(R"({"count": 1e3})")->count, 1000);  // whole real where an integer belongs
    EXPECT_EQ(decodeRecord<Sample>(R"({"count": -5})")->count, -5);
    // Beyond 64 bits, and 1e999: an infinity could never be written back.
    for (const char* text : {R"({"count": 1.5})", R"({"count": 9223372036854775808})", R"({"count": 1e300})",
                             R"({"ratio": 1e999})", R"({"name": 5})", R"({"flag": 1})", R"({"count": "3"})",
                             R"({"tags": ["a", 2]})", R"({"tags": "a"})", R"([1])"})
        EXPECT_FALSE(decodeRecord<Sample>(text)) << text;
    // What is written is checked for infinities and NaN at every level.
    EXPECT_TRUE(allFinite(Json{{"b", 1}, {"a", {{"d", 2.5}}}}));
    EXPECT_FALSE(allFinite(Json{{"b", 1}, {"a", {{"x", Json::array({1.0, std::nan("")})}}}}));
}

std::string nested(int depth, const std::string& inner = "") {
    std::string text;
    for (int i = 0; i < depth; ++i) text += i % 2 ? "{\"k\":" : "[";
    text += inner.empty() ? (depth % 2 ? "[]" : "{}") : inner;
    for (int i = depth - 1; i >= 0; --i) text += i % 2 ? "}" : "]";
    return text;
}

TEST(JsonHelpers, ParseRefusesMalformedDeepAndInvalidUtf8) {
    for (const char* bad : {"", "{\"a\":", "{\"a\":\"\xff\xfe\"}", "[1]]"}) EXPECT_FALSE(parseJson(bad)) << bad;

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

TEST(JsonHelpers, PathsKeepTheirExactBytesThroughTheFileForm) {
    const std::pair<std::string, std::string> cases[] = {  // the bytes, and their text in the file
        {"/shows/Hamlet.pdf", "/shows/Hamlet.pdf"}, {"", ""},
        {"/shows/\xc3\x84\xc3\xa4ni 100%.pdf", "/shows/\xc3\x84\xc3\xa4ni 100%.pdf"},  // valid UTF-8 stays as it is
        {"/levy/K\xe4sikirjoitus.pdf", "\0/levy/K%E4sikirjoitus.pdf"s},  // Latin-1
        {"/a/100%\xff.pdf", "\0/a/100%25%FF.pdf"s},
        {"/a/\xc3\xa4\xe4\xe2\x82", "\0/a/\xc3\xa4%E4%E2%82"s},  // valid characters beside invalid bytes, cut off
        {"\0x"s, "\0\0x"s},                  // only so the mark stays unambiguous
    };
    std::vector<std::string> all;
    for (const auto& [path, stored] : cases) {
        EXPECT_EQ(pathToJson(path), Json(stored)) << path;
        all.push_back(path);
    }
    // Through the text form, which replaces any invalid UTF-8 it is handed.
    const std::string text = dumpJson(pathListToJson(all), 2);
    EXPECT_TRUE(g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) << text;
    std::vector<std::string> list;
    ASSERT_TRUE(readPathList(*parseJson(text), list));
    EXPECT_EQ(list, all);

    // A malformed escape or a value that is not a text is refused, never guessed at.
    std::string bytes;
    for (const Json& bad : {Json("\0%4"s), Json("\0a%zz"s), Json("\0%"s), Json(5), Json::array({"/a"})})
        EXPECT_FALSE(readPath(bad, bytes)) << bad.dump();
    EXPECT_FALSE(readPathList(Json::array({"/a", 1}), list));
    EXPECT_EQ(list, all) << "a refused list leaves the old value";
}

// A listed record with every form of field; a record with a list of records (read one by one), plain lists
// and a map (read whole), and an optional; and records whose default has a fresh id each.
struct Entry {
    std::string key;
    std::optional<std::int64_t> channel;
    std::string path = "/default.pdf";
    std::vector<Sample> samples;
};

struct Book {
    std::int64_t n = 1;
    std::string title = "untitled";
    std::vector<Entry> entries;
    std::vector<std::string> names;
    std::map<std::string, std::string> texts;
    std::optional<std::int64_t> limit;
};

int ticketsMade = 0;
struct Ticket {
    std::string id = "T" + std::to_string(++ticketsMade);
    std::string seat;
};

struct Box { std::vector<Ticket> tickets; };

}  // namespace

template <>
struct RecordFields<Entry> {
    static constexpr auto list = std::tuple{
        FieldKey{"key", &Entry::key, RequiredForm{}}, FieldKey{"channel", &Entry::channel},
        FieldKey{"path", &Entry::path, PathForm{}}, FieldKey{"samples", &Entry::samples}};
};
template <>
struct RecordFields<Book> {
    static constexpr auto list =
        std::tuple{FieldKey{"n", &Book::n},         FieldKey{"title", &Book::title}, FieldKey{"entries", &Book::entries},
                   FieldKey{"names", &Book::names}, FieldKey{"texts", &Book::texts}, FieldKey{"limit", &Book::limit}};
};
template <>
struct RecordFields<Ticket> {
    static constexpr auto list = std::tuple{FieldKey{"id", &Ticket::id}, FieldKey{"seat", &Ticket::seat}};
};
template <>
inline constexpr std::string_view freshField<Ticket> = "id";
template <>
struct RecordFields<Box> {
    static constexpr auto list = std::tuple{FieldKey{"tickets", &Box::tickets}};
};

namespace {

bool readValue(const Json& value, Entry& out) { return readFields(value, out); }
bool readValue(const Json& value, Book& out) { return readFields(value, out); }
Json toJson(const Entry& entry) { return fieldsToJson(entry); }

TEST(JsonHelpers, ListedFieldsReadAndWriteByTheirForm) {
    // Each case: the text read, and the record written back (empty: the read fails).
    const std::pair<std::string, std::string> cases[] = {
        {R"({"key": "a"})", R"({"key":"a","path":"/default.pdf","samples":[]})"},
        {R"({"key": "a", "channel": null, "path": null})", R"({"key":"a","path":"/default.pdf","samples":[]})"},
        {R"({"key": "a", "channel": 3, "samples": [{"count": 2}]})",
         R"({"channel":3,"key":"a","path":"/default.pdf","samples":[{"count":2,"flag":true,"name":"default",)"
         R"("ratio":0.5,"tags":[]}]})"},
        {"{\"key\": \"a\", \"path\": \"\\u0000/K%E4.pdf\"}", "{\"key\":\"a\",\"path\":\"\\u0000/K%E4.pdf\",\"samples\":[]}"},
        {R"({"channel": 3})", ""}, {R"({"key": null})", ""}, {R"({"key": "a", "channel": 1.5})", ""},
        {R"({"key": "a", "path": "\u0000%zz"})", ""}, {R"({"key": "a", "samples": [{"count": "2"}]})", ""},
    };
    for (const auto& [text, written] : cases) {
        Entry entry;
        const bool read = readFields(*parseJson(text), entry);
        EXPECT_EQ(read, !written.empty()) << text;
        if (read) { EXPECT_EQ(dumpJson(fieldsToJson(entry), -1), written) << text; }
    }
}

TEST(JsonHelpers, ParseCostGrowsLinearlyWithTheNumberOfObjects) {
    // 200,000 objects in one list: a quadratic parse (a parser callback rescanning the parent after each object)
    // needs minutes, beyond the test's time-out; a linear one a fraction of a second.
    std::string text = R"({"entries": [)";
    for (int i = 0; i < 200000; ++i) text += R"({"key": "a"},)";
    text += R"({"key": "b"}]})";
    const auto book = decodeRecord<Book>(text);
    ASSERT_TRUE(book && book->entries.size() == 200001u);
    EXPECT_EQ(book->entries.back().key, "b");
}

// The record read from the file text as written back; "none" when refused,
// "over <key>" when a refusing bound stopped it.
std::string fileRead(const std::string& text, std::span<const ListBound> bounds = {}) {
    FileNotes notes;
    const auto book = decodeFile<Book>(text, bounds, notes);
    if (!notes.overBound.empty()) return "over " + std::string(notes.overBound);
    return book ? dumpJson(fieldsToJson(*book), -1) : "none";
}

TEST(JsonFiles, ReadingAsParsedAgreesWithReadingTheParsedTree) {
    const char* cases[] = {
        R"({})", R"({"n": 2, "n": null})",  // a repeated key: the last counts, null included
        R"({"n": null, "n": 3, "title": "a", "title": "b"})",
        R"({"entries": [{"key": "a"}], "entries": [{"key": "b", "channel": 2}]})",
        R"({"x": [[{"y": [1, {"z": null}]}]], "n": 4, "z": "s", "entries": null})",  // unknown keys
        R"({"entries": [{"key": "a", "other": {"deep": [1]}, "samples": [{"count": 2, "tags": ["t"]}]}]})",
        R"({"texts": {"0": "a", "1": "b"}, "names": ["x", "y"], "limit": 5, "title": "\u00e4\ud83d\ude00"})",
        R"({"entries": [{"key": "a", "path": "\u0000/K%E4.pdf"}], "names": ["\u0000"]})",
        // Each of these fails the whole record.
        R"({"entries": {}})", R"({"entries": [1]})", R"({"entries": [null]})", R"({"entries": [[]]})",
        R"({"entries": [{}]})", R"({"entries": [{"key": null}]})", R"({"entries": [{"key": "a", "key": null}]})",
        R"({"entries": [{"key": "a", "samples": [{"count": 1.5}]}]})", R"({"texts": {"a": 1}})", R"({"names": "x"})",
        R"({"n": 1.5})", R"({"n": "1"})", R"({"limit": []})", R"({"title": {}})", R"([])", "5", R"("s")", "null", "",
        "{} {}", R"({"n": 1)", R"({"n": 1]})",
    };
    for (const std::string text : cases) {
        const auto tree = decodeRecord<Book>(text);
        EXPECT_EQ(fileRead(text), tree ? dumpJson(fieldsToJson(*tree), -1) : "none") << text;
    }
}

TEST(JsonFiles, ListsAreHeldToTheirBoundsWhileParsing) {
    const ListBound bounds[] = {{"entries", 2, PastBound::refuse}, {"names", 2, PastBound::drop},
                                {"texts", 2, PastBound::refuse}};
    // What was read: the number of entries, the names when there are any, n when set; or the refusal.
    const std::pair<const char*, const char*> cases[] = {
        {R"({"entries": [{"key": "a"}, {"key": "b"}]})", "2 entries"},
        {R"({"entries": [{"key": "a"}, {"key": "b"}, {"key": "c"}]})", "over entries"},
        {R"({"entr\u0069es": [{"key": "a"}, {"key": "b"}, {"key": "c"}]})", "over entries"},  // counted by the decoder
        {R"({"texts": {"a": "1", "b": "2", "c": "3"}})", "over texts"},
        {R"({"names": ["a", "b", ["c", [",]"]], "d"], "n": 5})", R"(names ["a","b"], n 5)"},
        {R"({"names": ["a", "b", 5]})", R"(names ["a","b"])"},  // the tail is cut unread
        {R"({"n\u0061mes": ["a", "b", "c"]})", R"(names ["a","b"])"},
        {R"({"n\u0061mes": ["a", "b", 5]})", "none"},  // read past the bound: still checked
        // Not elements of a bounded list: separators in texts, deeper lists, lists under other keys.
        {R"({"entries": [{"key": "a,b,c"}, {"key": "d", "samples": [{}, {}, {}]}]})", "2 entries"},
        {R"({"x": {"entries": [1, 2, 3], "names": [1, 2, 3]}})", "0 entries"},
    };
    for (const auto& [text, expected] : cases) {
        FileNotes notes;
        const auto book = decodeFile<Book>(text, bounds, notes);
        std::string summary = notes.overBound.empty() ? "none" : "over " + std::string(notes.overBound);
        if (book) {
            summary = book->names.empty() ? std::to_string(book->entries.size()) + " entries"
                                          : "names " + dumpJson(book->names, -1);
            if (book->n != 1) summary += ", n " + std::to_string(book->n);
        }
        EXPECT_EQ(summary, expected) << text;
    }
}

TEST(JsonFiles, DamagedTextIsReadRepairedAndTooDeepIsRefused) {
    FileNotes notes;
    const auto book = decodeFile<Book>("{\"title\": \"a\xFF\", \"names\": [\"\\ud800\"], \"n\": null}", {}, notes);
    ASSERT_TRUE(book);
    EXPECT_TRUE(notes.repaired);
    EXPECT_EQ(book->title, "a\xEF\xBF\xBD");
    EXPECT_EQ(book->names, std::vector<std::string>{"\xEF\xBF\xBD"});
    EXPECT_TRUE(fieldPresent<Book>(notes, "title"));
    EXPECT_FALSE(fieldPresent<Book>(notes, "n")) << "null is no value";
    EXPECT_FALSE(fieldPresent<Book>(notes, "texts"));

    ASSERT_TRUE(decodeFile<Book>(R"({"n": 2})", {}, notes));
    EXPECT_FALSE(notes.repaired) << "each reading starts afresh";
    // A file cut short by a crash and padded with zeros reads as far as the parser reads: to the first NUL.
    const std::string padded = R"({"n": 3})" + std::string(4096, '\0') + "\xFF[[[";
    EXPECT_EQ(decodeFile<Book>(padded, {}, notes)->n, 3);
    EXPECT_FALSE(notes.repaired);
    // Unknown keys are skipped without being kept, but never nest without bound.
    EXPECT_TRUE(decodeFile<Book>(R"({"x": )" + nested(254) + "}", {}, notes));
    EXPECT_FALSE(decodeFile<Book>(R"({"x": )" + nested(255) + "}", {}, notes));
}

TEST(JsonFiles, RecordsOfALongListGetAFreshValueOnlyWhereTheyLackIt) {
    FileNotes notes;
    const auto box = decodeFile<Box>(
        R"({"tickets": [{"seat": "a"}, {"id": "X"}, {"id": null}, {"id": "Y", "id": null}]})", {}, notes);
    ASSERT_TRUE(box && box->tickets.size() == 4u);
    EXPECT_EQ(box->tickets[1].id, "X");
    const std::set<std::string> fresh{box->tickets[0].id, box->tickets[2].id, box->tickets[3].id};
    EXPECT_EQ(fresh.size(), 3u) << "each its own";
    for (const std::string& id : fresh) EXPECT_TRUE(id.starts_with("T")) << id;
}

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
    const std::pair<const char*, const char*> cases[] = {  // the text, and its repair (none: sound, left as it is)
        {R"(["a\ud800b"])", R"(["a\uFFFDb"])"},                     // high alone
        {R"(["\udc00"])", R"(["\uFFFD"])"},                         // low alone
        {R"(["\ud800"])", R"(["\uFFFD"])"},                         // high at the end of its text
        {R"(["\ud800\u0041"])", R"(["\uFFFD\u0041"])"},             // high before another character
        {R"(["\ud800\ud83d\ude00"])", R"(["\uFFFD\ud83d\ude00"])"},  // high before a pair
        {R"(["\udc00\udc00"])", R"(["\uFFFD\uFFFD"])"},
        {R"(["\\\ud800"])", R"(["\\\uFFFD"])"},                     // after an escaped backslash
        {R"({"\ud800": 1})", R"({"\uFFFD": 1})"},                   // in a key
        {R"(["\ud83d\ude00"])", nullptr}, {R"(["\uD83D\uDE00"])", nullptr}, {R"(["\\ud800"])", nullptr},
        {R"(["\u00e4\\"])", nullptr},     {R"(["\ud8"])", nullptr},          {R"(["\\"])", nullptr},
    };
    for (const auto& [damaged, repaired] : cases) {
        std::string text = damaged;
        EXPECT_EQ(repairSurrogateEscapes(text), repaired != nullptr) << damaged;
        EXPECT_EQ(text, repaired ? repaired : damaged);
        if (repaired) { EXPECT_TRUE(parseJson(text)) << "the parser takes the repaired text: " << text; }
    }
}

}  // namespace
}  // namespace tallowmark
