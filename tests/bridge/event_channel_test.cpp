#include <random>
#include <set>

#include "bridge_fixture.hpp"
#include "support/engine_access.hpp"
#include "support/pdf_fixtures.hpp"

namespace tallowmark {
namespace {

using testing::pageURL;

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
    std::string standby;
    std::string lastFired;
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
        const auto pdf = dir / "Show.pdf";
        testing::writePdf(pdf, {{300, 400, {{30, 40, "Enter the ghost", 12}}}});
        CueSidecar s;
        for (int n = 1; n <= cues; ++n) {
            Cue c;
            c.id = "c" + std::to_string(n);
            c.number = std::to_string(n);
            c.y = 0.01 * n;
            s.cues.push_back(c);
        }
        testing::EngineAccess::loadFromMemory(bridge->engine(), s);
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
    for (int step = 0; step < 3000; ++step) {
        const int what = pick(100);
        const std::string number = std::to_string(1 + pick(45));
        if (what < 40) {
            page.run(call("go").value, true);
        } else if (what < 50) {
            page.run(call("back").value, true);
        } else if (what < 53) {
            page.run(call("reset").value, true);
        } else if (what < 60) {
            bridge->engine().fireCue(number, "msc");
        } else if (what < 66) {
            bridge->engine().standbyByNumber(number, "osc");
        } else if (what < 70) {
            call("standbyCue", Json::array({"c" + number}));
        } else if (what < 76) {
            call("upsertCue", Json::array({{{"id", "c" + number}, {"number", number}, {"y", 0.001 * pick(1000)}}}));
        } else if (what < 80) {
            call("removeCue", Json::array({"c" + number}));
        } else if (what < 84) {
            page.state(call("undo").value);
        } else if (what < 86) {
            page.state(call("redo").value);
        } else if (what < 88) {
            call("restoreRun");
        } else {
            bridge->engine().go("osc");
        }
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
    const auto delta = [&](std::uint64_t from) {
        RunDelta d;
        d.from = from;
        d.seq = from + 1;
        d.clear = random() % 5 == 0;
        for (int i = 0; i < 3; ++i) {
            const std::string id = "c" + std::to_string(random() % 6);
            if (random() % 2) {
                d.fired.insert(id);
                d.unfired.erase(id);
            } else {
                d.unfired.insert(id);
                d.fired.erase(id);
            }
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
        for (int i = 0; i < 6; ++i)
            if (random() % 2) start.insert("c" + std::to_string(i));
        const RunDelta a = delta(10);
        const RunDelta b = delta(11);
        RunDelta merged = a;
        merged.merge(b);
        EXPECT_EQ(merged.from, 10u);
        EXPECT_EQ(merged.seq, 12u);
        EXPECT_EQ(merged.scalars, b.scalars);
        EXPECT_EQ(apply(start, merged), apply(apply(start, a), b)) << "from the state before both";
        const auto afterA = apply(start, a);
        EXPECT_EQ(apply(afterA, merged), apply(afterA, b)) << "from the state between them";
    }
}

}  // namespace
}  // namespace tallowmark
