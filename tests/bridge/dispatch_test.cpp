// The way into the bridge: who may call, by what name, with what arguments.

#include <algorithm>
#include <cmath>

#include "bridge/bridge_calls.hpp"
#include "bridge/bridge_records.hpp"
#include "bridge_fixture.hpp"

namespace tallowmark {
namespace {

using testing::pageURL;
using testing::Reply;

class DispatchTest : public testing::BridgeFixture {};

TEST_F(DispatchTest, OnlyTheMainFrameOfTheGuardedPageMayCallAndOnlyByAKnownName) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(call("getState", Json::array(), false).error, "ei sallittu");
    EXPECT_EQ(call("getState", Json::array(), true, "https://example.org/").error, "ei sallittu");
    const std::string log = ::testing::internal::GetCapturedStderr();
    for (const std::string url : {pageURL, "https://example.org/"})
        EXPECT_NE(log.find("TALLOWMARK: siltakutsu hylatty: getState " + url), std::string::npos) << log;

    bridge->setPageGuard(nullptr);
    EXPECT_EQ(call("getState").error, "ei sallittu");
    bridge->setPageGuard(std::make_shared<PageGuard>(pageURL));
    EXPECT_TRUE(!call("getState").error && call("GetState").error == "tuntematon funktio: GetState");

    // Every row is registered under a name the shell registers, and each name once.
    std::vector<std::string> names = NativeBridge::callNames(), rows;
    for (const CallRow& row : allCallRows()) rows.push_back(row.name);
    std::sort(names.begin(), names.end());
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, names);
    EXPECT_EQ(names.size(), 63u);
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end()) << "a name listed twice";
}

TEST_F(DispatchTest, EveryCallAnswersOnceWhateverItIsSent) {
    Json huge = Json::array();
    for (int i = 0; i < 20000; ++i) huge.push_back(i % 2 ? Json("x") : Json{{"page", i}});
    const std::vector<Json> bodies = {
        Json(nullptr), Json("go"), Json::object(), Json::array(), Json::array({nullptr, nullptr, nullptr}),
        Json::array({std::nan(""), INFINITY, -1e308, "", Json::object(), Json::array()}),
        Json::array({-9e18, 9e18, 1.5, true, false, 3, 4, 5}), Json::array({huge}), huge};
    ASSERT_TRUE(open(script()).value.is_object());
    for (const std::string& name : NativeBridge::callNames())
        for (const Json& body : bodies) {
            const Reply r = call(name, body);
            // Closing the script is among the calls; importing then has nothing to import into.
            EXPECT_TRUE(r.done && (!r.error || *r.error == "no open script" || *r.error == "no layout"))
                << name << " " << body.dump().substr(0, 80);
        }
}

// A missing or mistyped argument is never an error: each call answers its default and
// changes nothing. An empty id names no record (once it cost an undo step and a save).
TEST_F(DispatchTest, BadArgumentsGetTheirCallsDefaultAndChangeNothing) {
    testing::writeText(dir / "Show.tallowmark", R"({"cues":[{"id":"Q","number":"1"}]})");
    ASSERT_TRUE(open(script()).value.is_object());
    const Json before = call("getState").value;
    ASSERT_EQ(before["cues"].size(), 1u);
    struct Row { const char* name; Json args, answer; std::optional<std::string> error{}; };
    const Json none = nullptr, empty = Json::array(), x = Json::array({"x"}), blank = Json::array({""});
    const std::vector<Row> rows = {
        {"openDocumentPath", empty, none}, {"openDocumentPath", Json::array({5}), none}, {"renderPage", empty, none},
        {"openDocumentPanel", empty, none},  // no one to ask
        {"searchDocument", Json::array({"T"}), empty},  // one letter is no search
        {"renderPage", Json::array({"0"}), none}, {"searchDocument", empty, empty}, {"upsertInsert", empty, none},
        {"textRect", Json::array({0, 0.1, 0.1, 0.3}), none}, {"textRect", Json::array({0, 0.1, "0.1", 0.3, 0.3}), none},
        {"textRect", Json::array({nullptr, 0.1, 0.1, 0.3, 0.3}), none}, {"setSettings", Json::array({5}), false},
        {"upsertCue", empty, false}, {"upsertMark", x, false}, {"upsertFlag", Json::array({Json::array({1})}), false},
        {"upsertCues", Json::array({Json::array({Json::object(), "C4"})}), empty}, {"removeCue", blank, true},
        {"upsertMemo", Json::array({"text"}), none}, {"upsertMarks", Json::array({5}), empty}, {"removeCue", empty, true},
        {"removeMark", Json::array({7}), true}, {"removeFlag", blank, true}, {"removeMemo", empty, true},
        // An empty id must not mean "every cue that is not on an inserted line".
        {"removeInsert", empty, true}, {"removeInsert", blank, true}, {"removeMemo", blank, true},
        {"removeCues", Json::array({blank}), true}, {"removeCues", Json::array({Json::array({"Q", 5})}), true},
        {"removeMarks", Json::array({"M"}), true}, {"standbyCue", empty, true}, {"setSpreadOffset", x, 0},
        {"reportPage", x, true}, {"menuState", x, true}, {"debugLog", empty, true}, {"saveScriptAs", empty, ""},
        {"ensureWindowWidth", empty, false}, {"offerMarks", empty, none}, {"importSidecar", empty, none},
        {"exportMarkedPDF", Json::array({5}), none, "no layout"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " " + row.args.dump());
        EXPECT_EQ(call(row.name, row.args).answer(), testing::Answer(row.answer, row.error));
        EXPECT_EQ(call("getState").value, before);
    }
    EXPECT_EQ(call("currentDocument").value["visiblePage"], 0);
}

// A reply is given once; a forgotten handle settles with null; either sink gets its own form.
TEST(BridgeReply, AnswersOnceInEitherFormAndNullWhenDropped) {
    using Replies = std::vector<std::pair<Json, std::optional<std::string>>>;
    Replies replies;
    auto sink = [&](const Json& v, const std::optional<std::string>& e) { replies.emplace_back(v, e); };
    {
        ReplyHandle reply(sink);
        ReplyHandle copy = reply;
        copy.answer(1);
        reply.fail("late");
        reply.answer(2);
    }
    drainMainQueue();
    EXPECT_EQ(replies, (Replies{{1, std::nullopt}}));
    { ReplyHandle forgotten(sink); }
    EXPECT_EQ(replies.size(), 1u);  // the null comes on the main queue
    drainMainQueue();
    ReplyHandle(sink).answerEncoded(R"({"b":[1,2],"a":"x"})");
    EXPECT_EQ(replies,
              (Replies{{1, std::nullopt}, {nullptr, std::nullopt}, {{{"a", "x"}, {"b", {1, 2}}}, std::nullopt}}));

    std::vector<std::pair<std::string, std::optional<std::string>>> texts;
    auto textSink = [&](const std::string& t, const std::optional<std::string>& e) { texts.emplace_back(t, e); };
    ReplyHandle::encoded(textSink).answer(Json{{"k", 1}});
    ReplyHandle::encoded(textSink).fail("no layout", false);
    { ReplyHandle forgotten = ReplyHandle::encoded(textSink); }
    drainMainQueue();
    EXPECT_EQ(texts, (decltype(texts){{R"({"k":1})", std::nullopt}, {"false", "no layout"}, {"null", std::nullopt}}));
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

// A key of another type (a fraction for an integer, a NaN, an empty id too) costs the page's
// copy that key alone, to its default or a new id. One reader serves every kind of record.
TEST(BridgeRecords, EveryFieldOfEveryRecordIsReadAndWrittenUnderItsKey) {
    const Json written = toJson(Cue{.id = "C1", .number = "12", .label = "Valot", .kind = "LX", .page = 3, .x = 0.25,
                                    .y = 0.75, .w = 0.125, .h = 0.0625, .labelX = 0.5, .color = "#112233",
                                    .snippet = "ovi", .note = "hidas", .padL = 0.01, .padR = 0.02, .insertID = "I1"});
    EXPECT_EQ(toJson(decodeCue(written)), written);
    const Json defaults = toJson(Cue{});
    for (const auto& [key, value] : written.items()) {
        std::vector<Json> wrong = {true};
        if (value.is_number_integer()) wrong.push_back(1.5);
        if (value.is_number_float()) wrong.insert(wrong.end(), {Json(std::nan("")), Json("left")});
        if (value.is_string()) wrong.push_back(7);
        if (key == "id") wrong.push_back("");
        for (const Json& bad : wrong) {
            SCOPED_TRACE(key + " " + bad.dump());
            Json damaged = written;
            damaged[key] = bad;
            Json loose = toJson(decodeCue(damaged));
            if (key == "id") {
                EXPECT_EQ(loose[key].get<std::string>().size(), 36u);
                EXPECT_NE(loose[key], toJson(decodeCue(damaged))[key]) << "each fresh id is new";
            } else {
                EXPECT_EQ(loose[key], defaults[key]);
            }
            loose[key] = value;
            EXPECT_EQ(loose, written);
        }
    }
    // Not a dictionary at all: a record of defaults with a fresh id, not a throw.
    for (const Json& notDict : {Json(nullptr), Json::array({1, 2})}) {
        Json loose = toJson(decodeMark(notDict)), fresh = toJson(Mark{});
        EXPECT_EQ(loose["id"].get<std::string>().size(), 36u);
        loose["id"] = fresh["id"];
        EXPECT_EQ(loose, fresh) << notDict;
    }
    EXPECT_EQ(decodeInsert(Json{{"id", "I1"}, {"afterY", 0.5}, {"text", 5}}),
              (Insert{.id = "I1", .afterY = 0.5, .text = ""}));
}

// Keys the page left out keep the settings' values, or the menu's own defaults.
TEST(BridgeRecords, MenuStateIsReadWholeWithItsOwnDefaults) {
    Settings settings;
    settings.themeName = "light";
    settings.pagesPerSpread = 1;
    settings.memosVisible = false;
    EXPECT_TRUE(initialMenuState(settings).pagesPerSpread == 1 && !initialMenuState(settings).memosVisible);
    const MenuState empty = readMenuState(Json::object(), settings);
    EXPECT_TRUE(empty.memosVisible && empty.sidebarVisible && empty.pagesPerSpread == 2) << empty.pagesPerSpread;
    EXPECT_EQ(empty.theme, "light");
    const MenuState given = readMenuState({{"hasDoc", true}, {"cueMode", "yes"}, {"spreadOffset", 1}}, settings);
    EXPECT_TRUE(given.hasDoc && !given.cueMode && given.spreadOffset == 1);
}

}  // namespace
}  // namespace tallowmark
