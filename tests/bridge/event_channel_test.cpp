#include <random>
#include <set>

#include "../cues/cue_fixtures.hpp"
#include "bridge_fixture.hpp"

namespace tallowmark {
namespace {

// A web view whose page takes a batch only when the test says so, as a page
// busy drawing would: what arrives meanwhile must wait and merge.
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

// The page's rules for what it is sent, kept to what it must agree on with
// the engine: a state or change older than what it holds is dropped; a change
// is applied on any state from its `from` up to its `seq`.
struct PageRun {
    std::uint64_t seq = 0;
    std::vector<std::string> cues;
    std::set<std::string> fired;
    std::string standby, lastFired;
    std::int64_t firedCount = 0;
    bool missed = false;

    void state(const Json& s) {
        if (s["seq"].get<std::uint64_t>() < seq) return;
        seq = s["seq"];
        cues.clear();
        for (const Json& c : s["cues"]) cues.push_back(c["id"]);
        fired = s["fired"].get<std::set<std::string>>();
        standby = s["standbyID"];
        lastFired = s["lastFiredID"];
        firedCount = 0;
        for (const std::string& id : cues) firedCount += fired.contains(id);
    }
    // A reply may overtake events still on their way; it is then left to
    // them. An event that does not fit means one was lost.
    void run(const Json& r, bool reply = false) {
        if (r["seq"].get<std::uint64_t>() <= seq) return;
        if (r["from"].get<std::uint64_t>() > seq) {
            missed = missed || !reply;
            return;
        }
        if (r["clear"]) fired.clear();
        for (const Json& id : r["unfired"]) fired.erase(id.get<std::string>());
        for (const Json& id : r["fired"]) fired.insert(id.get<std::string>());
        standby = r["standbyID"];
        lastFired = r["lastFiredID"];
        firedCount = r["firedCount"];
        seq = r["seq"];
    }
    void event(const Json& e) {
        if (e["name"] == "cueState") state(e["payload"]);
        if (e["name"] == "runState") run(e["payload"]);
    }
    std::string describe() const {
        std::string text = standby + " / " + lastFired + " / " + std::to_string(firedCount) + " |";
        for (const std::string& id : fired) text += " " + id;
        text += " | cues";
        for (const std::string& id : cues) text += " " + id;
        return text;
    }
};

std::string describeEngine(const CueEngine& engine) {
    PageRun truth;
    truth.state(stateDictionary(engine));
    return truth.describe();
}

class EventChannelTest : public testing::BridgeFixture {
protected:
    void open(int cues) {
        testing::EngineAccess::loadFromMemory(bridge->engine(), testing::sidecarWithCues(cues));
        bridge->setWebView(view);
        drainMainQueue();
        page.state(call("getState").value);
    }
    // Everything the page was handed, read as the page reads it.
    void deliver() {
        for (int round = 0; round < 100 && !view->takers.empty(); ++round) {
            for (const Json& batch : view->batches)
                for (const Json& e : batch) page.event(e);
            view->batches.clear();
            view->take();
        }
    }

    std::shared_ptr<BusyView> view = std::make_shared<BusyView>();
    PageRun page;
};

// A desk firing faster than the page can draw: the page gets one batch with
// one run change holding all of it, however many GOs there were.
TEST_F(EventChannelTest, RunChangesMergeWhileThePageIsBusyAndAStateSupersedesThem) {
    open(300);
    call("go");
    ASSERT_EQ(view->batches.size(), 1u);
    for (int i = 0; i < 200; ++i) bridge->engine().go("osc");
    bridge->engine().back("osc");
    drainMainQueue();
    EXPECT_EQ(view->batches.size(), 1u) << "nothing more while the page is busy";
    deliver();
    EXPECT_EQ(page.describe(), describeEngine(bridge->engine()));
    EXPECT_FALSE(page.missed);

    // Two run changes then an edit: the whole state alone goes.
    call("go");
    view->batches.clear();
    bridge->engine().go("osc");
    bridge->engine().go("osc");
    call("upsertCue", Json::array({{{"id", "late"}, {"y", 0.9}}}));
    view->take();
    ASSERT_EQ(view->batches.size(), 1u);
    ASSERT_EQ(view->batches[0].size(), 1u);
    EXPECT_EQ(view->batches[0][0]["name"], "cueState");
}

// Whatever the order of calls, edits, undo, remote commands and a page that
// takes its batches at odd moments, the page's view of the run and the cue
// list equals the engine's once it has taken what it was sent.
TEST_F(EventChannelTest, ARandomShowSeenThroughItsEventsAndRepliesEqualsTheEngine) {
    open(40);
    std::mt19937 random(20261207);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    std::string n;  // a cue number, some of them of no cue
    // Each action below a threshold of a roll of 100, the last one for the rest.
    const std::vector<std::pair<int, std::function<void()>>> actions = {
        {40, [&] { page.run(call("go").value, true); }},
        {50, [&] { page.run(call("back").value, true); }},
        {53, [&] { page.run(call("reset").value, true); }},
        {60, [&] { bridge->engine().fireCue(n, "msc"); }},
        {66, [&] { bridge->engine().standbyByNumber(n, "osc"); }},
        {70, [&] { call("standbyCue", Json::array({"c" + n})); }},
        {76, [&] { call("upsertCue", Json::array({{{"id", "c" + n}, {"number", n}, {"y", 0.001 * pick(1000)}}})); }},
        {80, [&] { call("removeCue", Json::array({"c" + n})); }},
        {84, [&] { page.state(call("undo").value); }},
        {86, [&] { page.state(call("redo").value); }},
        {88, [&] { call("restoreRun"); }},
        {100, [&] { bridge->engine().go("osc"); }},
    };
    for (int step = 0; step < 3000; ++step) {
        const int what = pick(100);
        n = std::to_string(1 + pick(45));
        std::find_if(actions.begin(), actions.end(), [&](const auto& a) { return what < a.first; })->second();
        drainMainQueue();
        // Most of the time the page is busy: its batches pile up and merge.
        if (pick(4) == 0) {
            deliver();
            ASSERT_FALSE(page.missed) << "step " << step;
            ASSERT_EQ(page.describe(), describeEngine(bridge->engine())) << "step " << step;
        }
    }
    deliver();
    EXPECT_EQ(page.describe(), describeEngine(bridge->engine()));
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
    const auto apply = [](std::set<std::string> s, const RunDelta& d) {
        if (d.clear) s.clear();
        for (const auto& id : d.unfired) s.erase(id);
        s.insert(d.fired.begin(), d.fired.end());
        return s;
    };
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

}  // namespace
}  // namespace tallowmark
