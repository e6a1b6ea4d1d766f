#include "bridge/bridge_records.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "bridge/bridge_arguments.hpp"
#include "bridge/navigation_guard.hpp"
#include "core/main_queue.hpp"

namespace tallowmark {
namespace {

// One key of a record with every field set given a value of another type: the
// marks file refuses the whole record, the page's copy loses only that key (to
// its default, or a new id). Either way every other key survives. A fraction
// where an integer belongs, a NaN, and an empty id count as wrong types too.
template <class R, class Decode>
void checkEachKeyAlone(const R& full, Decode decodeLoose) {
    const Json written = toJson(full);
    R strict = full;
    ASSERT_TRUE(readValue(written, strict));
    EXPECT_EQ(strict, full) << "every field goes to the file and back";
    EXPECT_EQ(decodeLoose(written), full) << "every field goes to the page and back";

    Json defaults = toJson(R{});
    for (const auto& [key, value] : written.items()) {
        SCOPED_TRACE(key);
        Json damaged = written;
        damaged[key] = true;
        R into = full;
        EXPECT_FALSE(readValue(damaged, into));

        std::vector<Json> wrong = {true};
        if (value.is_number_integer()) wrong.push_back(1.5);
        if (value.is_number_float()) wrong.insert(wrong.end(), {Json(std::nan("")), Json("left")});
        if (value.is_string()) wrong.push_back(7);
        if (key == "id") wrong.push_back("");
        for (const Json& bad : wrong) {
            damaged[key] = bad;
            Json loose = toJson(decodeLoose(damaged));
            EXPECT_NE(loose[key], value) << bad;
            if (key == "id") {
                EXPECT_EQ(loose[key].template get<std::string>().size(), 36u);
                EXPECT_NE(loose[key], toJson(decodeLoose(damaged))[key]) << "each fresh id is new";
            } else {
                EXPECT_EQ(loose[key], defaults[key]) << bad;
            }
            loose[key] = value;
            EXPECT_EQ(loose, written) << bad;
        }
    }

    // Not a dictionary at all: a record of defaults with a fresh id, not a throw.
    for (const Json& notDict : {Json(nullptr), Json::array({1, 2})}) {
        Json loose = toJson(decodeLoose(notDict));
        EXPECT_EQ(loose["id"].template get<std::string>().size(), 36u);
        loose["id"] = defaults["id"];
        EXPECT_EQ(loose, defaults) << notDict;
    }
}

TEST(BridgeRecords, EveryFieldOfEveryRecordIsReadAndWrittenUnderItsKey) {
    checkEachKeyAlone(Cue{.id = "C1", .number = "12", .label = "Valot", .kind = "LX", .page = 3, .x = 0.25,
                          .y = 0.75, .w = 0.125, .h = 0.0625, .labelX = 0.5, .color = "#112233", .snippet = "ovi",
                          .note = "hidas", .padL = 0.01, .padR = 0.02, .insertID = "I1"},
                      decodeCue);
    checkEachKeyAlone(Mark{.id = "M1", .page = 1, .x = 0.125, .y = 0.25, .w = 0.375, .h = 0.5, .kind = "underline",
                           .text = "t", .color = "#445566", .group = "g"},
                      decodeMark);
    checkEachKeyAlone(
        Flag{.id = "F1", .page = 2, .x = 0.75, .y = 0.875, .text = "ovelle", .color = "red", .role = "actor"},
        decodeFlag);
    checkEachKeyAlone(Memo{.id = "N1", .page = 4, .x = 0.5, .y = 0.25, .w = 0.25, .h = 0.125, .text = "muista",
                           .color = "yellow"},
                      decodeMemo);
    checkEachKeyAlone(Insert{.id = "I1", .page = 3, .afterY = 0.5, .lineMidY = 0.53125, .lineH = 0.03125,
                             .x = 0.0625, .text = "lisatty"},
                      decodeInsert);
}

TEST(BridgeRecords, MenuStateIsReadWholeWithItsOwnDefaults) {
    Settings settings;
    settings.themeName = "light";
    settings.pagesPerSpread = 1;
    settings.memosVisible = false;
    EXPECT_EQ(initialMenuState(settings).pagesPerSpread, 1);
    EXPECT_FALSE(initialMenuState(settings).memosVisible);

    const MenuState empty = readMenuState(Json::object(), settings);
    EXPECT_TRUE(empty.memosVisible);
    EXPECT_TRUE(empty.sidebarVisible);
    EXPECT_EQ(empty.pagesPerSpread, 2);
    EXPECT_EQ(empty.theme, "light");

    const MenuState given = readMenuState({{"hasDoc", true}, {"cueMode", "yes"}, {"spreadOffset", 1}}, settings);
    EXPECT_TRUE(given.hasDoc);
    EXPECT_FALSE(given.cueMode);
    EXPECT_EQ(given.spreadOffset, 1);
}

TEST(BridgeRecords, AnEventPayloadWithoutJsonFormIsNotSent) {
    EXPECT_EQ(*BridgeEvents::payloadText("dimCommand", {{"dim", true}}), "{\"dim\":true}");
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(BridgeEvents::payloadText("cueState", {{"x", std::nan("")}}));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("failed to encode event 'cueState'"), std::string::npos);
}

// A reply is given once, whatever comes later; a forgotten handle still
// settles its caller with null. Text reaches a value sink parsed and a value
// reaches a text sink encoded.
TEST(BridgeReply, AnswersOnceInEitherFormAndNullWhenDropped) {
    std::vector<std::pair<Json, std::optional<std::string>>> replies;
    auto sink = [&](const Json& v, const std::optional<std::string>& e) { replies.emplace_back(v, e); };
    {
        ReplyHandle reply(sink);
        ReplyHandle copy = reply;
        copy.answer(1);
        reply.fail("late");
        reply.answer(2);
    }
    drainMainQueue();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].first, 1);

    { ReplyHandle forgotten(sink); }
    EXPECT_EQ(replies.size(), 1u);  // the null comes on the main queue
    drainMainQueue();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_TRUE(replies[1].first.is_null());
    EXPECT_FALSE(replies[1].second);

    ReplyHandle(sink).answerEncoded(R"({"b":[1,2],"a":"x"})");
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[2].first, (Json{{"a", "x"}, {"b", {1, 2}}}));

    std::vector<std::pair<std::string, std::optional<std::string>>> texts;
    auto textSink = [&](const std::string& t, const std::optional<std::string>& e) { texts.emplace_back(t, e); };
    ReplyHandle::encoded(textSink).answer(Json{{"k", 1}});
    ReplyHandle::encoded(textSink).fail("no layout", false);
    { ReplyHandle forgotten = ReplyHandle::encoded(textSink); }
    drainMainQueue();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0].first, R"({"k":1})");
    EXPECT_EQ(texts[1], (std::pair<std::string, std::optional<std::string>>("false", "no layout")));
    EXPECT_EQ(texts[2].first, "null");
}

TEST(BridgeArguments, IntegersRoundHalfAwayFromZeroWithinRange) {
    const BridgeArguments a(Json::array({1000.6, -2.5, 1e300, "5", 7, std::nan(""), 9.3e18, -9.2e18}));
    const std::optional<std::int64_t> expected[] = {1001, -3, {}, {}, 7, {}, {}, -9200000000000000000, {}};
    for (std::size_t i = 0; i < std::size(expected); ++i) EXPECT_EQ(a.integer(i), expected[i]) << i;
    EXPECT_FALSE(a.number(5));
    EXPECT_EQ(BridgeArguments(Json{{"a", 1}}).size(), 0u);
}

TEST(PageGuard, AllowsOnlyThePagesOwnFolder) {
    const PageGuard guard("file:///opt/tm/web/index_inlined.html");
    EXPECT_EQ(guard.allowedDirectory(), "/opt/tm/web/");
    for (const char* url : {"file:///opt/tm/web/index_inlined.html", "file:///opt/tm/web/img/logo%20big.png",
                            "about:blank"})
        EXPECT_TRUE(guard.allows(url)) << url;
    EXPECT_FALSE(guard.allows(std::nullopt));
    for (const char* url : {"about:srcdoc", "file:///opt/tm/web2/index_inlined.html", "file:///opt/tm/web/../secret.html",
                            "https://example.org/opt/tm/web/x", "data:text/html,hi",
                            // the page images' scheme: images of the page, never a page of its own
                            "tallowmark-page://images/0/1600", "TALLOWMARK-PAGE://images/0/1600"})
        EXPECT_FALSE(guard.allows(url)) << url;
    EXPECT_FALSE(PageGuard("https://example.org/web/index.html").allows("file:///web/index.html"));
}

}  // namespace
}  // namespace tallowmark
