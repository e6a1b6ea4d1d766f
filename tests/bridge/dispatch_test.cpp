// The way into the bridge: who may call, what a name finds, and that every
// call settles with its own answer whatever the page sends.

#include <algorithm>
#include <cmath>

#include "bridge/bridge_calls.hpp"
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
    EXPECT_NE(log.find(std::string("TALLOWMARK: siltakutsu hylatty: getState ") + pageURL), std::string::npos);
    EXPECT_NE(log.find("siltakutsu hylatty: getState https://example.org/"), std::string::npos);

    bridge->setPageGuard(nullptr);
    EXPECT_EQ(call("getState").error, "ei sallittu");
    bridge->setPageGuard(std::make_shared<PageGuard>(pageURL));
    EXPECT_FALSE(call("getState").error);
    EXPECT_EQ(call("GetState").error, "tuntematon funktio: GetState");

    // Every row is registered under a name the shell registers, and each name once.
    std::vector<std::string> names = NativeBridge::callNames(), rows;
    for (const CallRow& row : allCallRows()) rows.push_back(row.name);
    EXPECT_EQ(names.size(), 57u);
    std::sort(names.begin(), names.end());
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, names);
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
    for (const std::string& name : NativeBridge::callNames()) {
        for (const Json& body : bodies) {
            const Reply r = call(name, body);
            EXPECT_TRUE(r.done) << name << " " << body.dump().substr(0, 80);
            // Closing the script is among the calls; importing then has nothing to import into.
            EXPECT_TRUE(!r.error || *r.error == "no open script" || *r.error == "no layout") << name << " " << body.dump().substr(0, 80);
        }
    }
}

// A missing or mistyped argument is never an error: each call answers its
// default, and none of them touches the marks or the run. An empty id names
// no record: removing it once cost an undo step and a save of the marks, and
// removeInsert answered false where every other removal answers true.
TEST_F(DispatchTest, BadArgumentsGetTheirCallsDefaultAndChangeNothing) {
    testing::writeText(dir / "Show.tallowmark", R"({"cues":[{"id":"Q","number":"1"}]})");
    ASSERT_TRUE(open(script()).value.is_object());
    const Json before = call("getState").value;
    ASSERT_EQ(before["cues"].size(), 1u);
    struct Row { const char* name; Json args, answer; std::optional<std::string> error{}; };
    const Json none = nullptr, empty = Json::array(), x = Json::array({"x"}), blank = Json::array({""});
    const std::vector<Row> rows = {
        {"openDocumentPath", empty, none}, {"openDocumentPath", Json::array({5}), none},
        {"openDocumentPanel", empty, none},  // no one to ask
        {"renderPage", empty, none}, {"renderPage", Json::array({"0"}), none}, {"searchDocument", empty, empty},
        {"searchDocument", Json::array({"T"}), empty},  // one letter is no search
        {"textRect", Json::array({0, 0.1, 0.1, 0.3}), none}, {"textRect", Json::array({0, 0.1, "0.1", 0.3, 0.3}), none},
        {"textRect", Json::array({nullptr, 0.1, 0.1, 0.3, 0.3}), none}, {"setSettings", Json::array({5}), false},
        {"upsertCue", empty, false}, {"upsertMark", x, false}, {"upsertFlag", Json::array({Json::array({1})}), false},
        {"upsertMemo", Json::array({"text"}), none}, {"upsertInsert", empty, none},
        {"upsertCues", Json::array({Json::array({Json::object(), "C4"})}), empty},
        {"upsertMarks", Json::array({5}), empty}, {"removeCue", empty, true}, {"removeCue", blank, true},
        {"removeMark", Json::array({7}), true}, {"removeFlag", blank, true}, {"removeMemo", empty, true},
        {"removeMemo", blank, true},
        // An empty id must not mean "every cue that is not on an inserted line".
        {"removeInsert", empty, true}, {"removeInsert", blank, true},
        {"removeCues", Json::array({blank}), true}, {"removeCues", Json::array({Json::array({"Q", 5})}), true},
        {"removeMarks", Json::array({"M"}), true}, {"standbyCue", empty, true}, {"setSpreadOffset", x, 0},
        {"reportPage", x, true}, {"menuState", x, true}, {"debugLog", empty, true},
        {"ensureWindowWidth", empty, false}, {"offerMarks", empty, none}, {"importSidecar", empty, none},
        {"saveScriptAs", empty, ""}, {"exportMarkedPDF", Json::array({5}), none, "no layout"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " " + row.args.dump());
        EXPECT_EQ(call(row.name, row.args).answer(), testing::Answer(row.answer, row.error));
        EXPECT_EQ(call("getState").value, before);
    }
    EXPECT_EQ(call("currentDocument").value["visiblePage"], 0);
}

// A reply is given once, whatever comes later; a forgotten handle still
// settles its caller with null. Text reaches a value sink parsed and a value
// reaches a text sink encoded.
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

}  // namespace
}  // namespace tallowmark
