#include <random>
#include <set>

#include "../cues/cue_fixtures.hpp"
#include "bridge/state_encoder.hpp"
#include "bridge_fixture.hpp"

namespace tallowmark {
namespace {

// A page that takes a batch only when told, as one busy drawing would.
class BusyView : public EventTransport {
public:
    void deliverEvents(const std::string& batch, std::function<void()> taken) override {
        batches.push_back(Json::parse(batch));
        takers.push_back(std::move(taken));
    }
    // The page takes what it was handed; the channel may send the next batch.
    void take() {
        for (auto& t : std::exchange(takers, {})) t();
        drainMainQueue();
    }
    std::vector<Json> batches;
    std::vector<std::function<void()>> takers;
};

// The page's rule for a run change, valid on any state from its `from` up to its `seq`.
std::set<std::string> applied(std::set<std::string> fired, const Json& change) {
    if (change["clear"]) fired.clear();
    for (const Json& id : change["unfired"]) fired.erase(id.get<std::string>());
    for (const Json& id : change["fired"]) fired.insert(id.get<std::string>());
    return fired;
}

using EventChannelTest = testing::BridgeFixture;

// A desk firing faster than the page draws costs it one batch with one run change, which
// brings it to the engine's run; the whole state of an edit supersedes the changes waiting.
TEST_F(EventChannelTest, RunChangesMergeWhileThePageIsBusyAndAStateSupersedesThem) {
    testing::EngineAccess::loadFromMemory(bridge->engine(), testing::sidecarWithCues(300));
    const auto view = std::make_shared<BusyView>();
    bridge->setWebView(view);
    drainMainQueue();
    const Json before = call("getState").value;
    call("go");
    ASSERT_EQ(view->batches.size(), 1u);
    for (int i = 0; i < 200; ++i) bridge->engine().go("osc");
    bridge->engine().back("osc");
    drainMainQueue();
    EXPECT_EQ(view->batches.size(), 1u) << "nothing more while the page is busy";
    view->take();
    ASSERT_EQ(view->batches.size(), 2u);
    ASSERT_EQ(view->batches[1].size(), 1u);
    const Json first = view->batches[0][0]["payload"], merged = view->batches[1][0]["payload"];
    const Json truth = stateDictionary(bridge->engine());
    EXPECT_EQ(std::tie(merged["from"], merged["seq"]), std::tie(first["seq"], truth["seq"]));
    EXPECT_EQ(applied(applied(before["fired"], first), merged), truth["fired"].get<std::set<std::string>>());
    EXPECT_EQ(std::tie(merged["standbyID"], merged["lastFiredID"]), std::tie(truth["standbyID"], truth["lastFiredID"]));
    EXPECT_EQ(merged["firedCount"], truth["fired"].size());

    view->batches.clear();
    bridge->engine().go("osc");
    bridge->engine().go("osc");
    call("upsertCue", Json::array({{{"id", "late"}, {"y", 0.9}}}));
    view->take();
    ASSERT_EQ(view->batches.size(), 1u);
    ASSERT_EQ(view->batches[0].size(), 1u);
    EXPECT_EQ(view->batches[0][0]["name"], "cueState");
}

// Merging is applying one after the other, from any state between.
TEST(RunDeltaMerge, AMergedChangeEqualsTheChangesInTurn) {
    std::mt19937 random(7);
    const auto id = [&] { return "c" + std::to_string(random() % 6); };
    const auto delta = [&](std::uint64_t from) {
        RunDelta d{.from = from, .seq = from + 1, .clear = random() % 5 == 0};
        for (int i = 0; i < 3; ++i) {
            auto [to, off] = random() % 2 ? std::tie(d.fired, d.unfired) : std::tie(d.unfired, d.fired);
            const std::string one = id();
            to.insert(one);
            off.erase(one);
        }
        d.scalars = {{"standbyID", "s" + std::to_string(d.seq)}};
        return d;
    };
    const auto apply = [](const std::set<std::string>& s, const RunDelta& d) { return applied(s, d.toJson()); };
    for (int trial = 0; trial < 500; ++trial) {
        std::set<std::string> start;
        for (int i = 0; i < 6; ++i) start.insert(id());
        const RunDelta a = delta(10), b = delta(11);
        RunDelta merged = a;
        merged.merge(b);
        EXPECT_EQ(std::tie(merged.from, merged.seq, merged.scalars), std::tie(a.from, b.seq, b.scalars));
        EXPECT_EQ(apply(start, merged), apply(apply(start, a), b)) << "from the state before both";
        EXPECT_EQ(apply(apply(start, a), merged), apply(apply(start, a), b)) << "from the state between them";
    }
}

// Texts that need escaping: the kept text and a fresh encoding agree byte for byte.
CueSidecar awkwardMarks() {
    CueSidecar s = testing::sidecarWithCues(6);
    s.cues[1].label = "Quote \" backslash \\ tab \t newline \n";
    s.cues[2].note = "V\u00e4in\u00f6 \u2028 \U0001F3AD";
    s.cues[3].x = 0.1 + 0.2;  // a real that needs every digit
    s.marks = {Mark{.id = "m1", .x = 0.1, .kind = "region", .text = "A"}};
    s.flags = {Flag{.id = "f1", .role = "LX"}};
    s.memos = {Memo{.id = "n1", .text = "Check the haze"}};
    s.inserts = {Insert{.id = "i1", .text = "Added line"}};
    return s;
}

// The text is the state dictionary's own encoding through a show, though its bulk is kept between changes.
TEST(StateEncoder, TextIsTheDictionarysOwnEncodingThroughAShow) {
    testing::TempDir dir;
    CueEngine engine;
    StateEncoder encoder;
    auto check = [&](const char* step) { EXPECT_EQ(encoder.encode(engine), dumpJson(stateDictionary(engine), -1)) << step; };
    check("nothing open");
    engine.loadSidecar(dir / "Show.pdf");
    check("opened without marks");
    const CueSidecar marks = awkwardMarks();
    engine.upsert(marks.cues);
    engine.upsert(marks.marks[0]);
    engine.upsert(marks.flags[0]);
    engine.upsert(marks.memos[0]);
    engine.upsert(marks.inserts[0]);
    engine.setPageText(12, "twelve");
    engine.setPageLabelOffset(2);
    check("marked");
    engine.go("test");
    engine.go("test");
    check("two fired");
    Cue relabelled = engine.ordered()[0];
    relabelled.label = "Changed";
    engine.upsert(relabelled);
    check("a cue edited");
    engine.removeMemo("n1");
    engine.setPageText(0, "zero");
    check("a memo removed and a page text added");
    engine.undo();
    check("undone");
    engine.go("test");
    engine.loadSidecar(dir / "Show.pdf");  // reopened: a saved run to offer
    ASSERT_TRUE(engine.resumeOffer());
    check("reopened with an offer");
    engine.unload();
    check("closed");
}

// An event payload without a JSON form is not sent, and logged.
TEST(StateEncoder, AnUnwritableRealGivesNoTextAsTheDictionaryWouldGiveNoEvent) {
    CueEngine engine;
    CueSidecar s = testing::sidecarWithCues(2);
    s.cues[0].w = std::numeric_limits<double>::infinity();
    testing::EngineAccess::loadFromMemory(engine, s);
    EXPECT_FALSE(StateEncoder().encode(engine));
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(BridgeEvents::payloadText("cueState", stateDictionary(engine)));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("failed to encode event 'cueState'"), std::string::npos);
    EXPECT_EQ(*BridgeEvents::payloadText("dimCommand", {{"dim", true}}), "{\"dim\":true}");
}

}  // namespace
}  // namespace tallowmark
