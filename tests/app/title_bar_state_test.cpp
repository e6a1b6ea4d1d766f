#include "app/model/title_bar_state.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

namespace tallowmark {
namespace {

// A window that records what the machine asks of it, and timers that run on a
// clock the test advances.
class FakeWindow final : public TitleBarSurface {
public:
    double clock = 100;
    bool fullScreen = false;
    bool visible = true;
    bool pointerAtTop = false;
    bool buttonDown = false;
    TitleBarSaved state{true, true};
    bool overlays = false;
    bool controls = false;
    std::map<TitleBarTimer, double> timers;  // kind -> due time
    const TitleBarState* machine = nullptr;
    std::vector<double> reserveAtApply;  // what the page had been told when the header bar went

    bool isFullScreen() const override { return fullScreen; }
    bool isVisible() const override { return visible; }
    TitleBarSaved capture() const override { return state; }
    void applyMode() override {
        EXPECT_FALSE(overlays) << "overlays before the header bar went";
        reserveAtApply.push_back(machine->reportedReserve());
        state = {false, false};
    }
    void restore(const TitleBarSaved& saved) override { state = saved; }
    void installOverlays() override {
        EXPECT_FALSE(overlays) << "overlays installed twice";
        overlays = true;
    }
    void removeOverlays() override { overlays = false; }
    void showControls(bool shown, bool) override { controls = shown; }
    bool pointerInTrigger() const override { return pointerAtTop; }
    bool anyButtonPressed() const override { return buttonDown; }
    void startTimer(TitleBarTimer timer, double seconds) override { timers[timer] = clock + seconds; }
    void cancelTimer(TitleBarTimer timer) override { timers.erase(timer); }

    // Runs the clock forward, firing timers in due order as a main loop would.
    void advance(TitleBarState& machine, double seconds) {
        const double end = clock + seconds;
        for (;;) {
            const auto next = std::min_element(timers.begin(), timers.end(),
                                               [](const auto& a, const auto& b) { return a.second < b.second; });
            if (next == timers.end() || next->second > end) break;
            clock = next->second;
            const TitleBarTimer kind = next->first;
            timers.erase(next);
            machine.timerFired(kind);
        }
        clock = end;
    }
};

struct Harness {
    FakeWindow window;
    TitleBarState machine{window, [this] { return window.clock; }};
    std::vector<double> reserves;

    Harness() {
        window.machine = &machine;
        machine.setOnReserveChange([this](double r) { reserves.push_back(r); });
    }
    void on() { machine.setWanted(true); }
};

TEST(TitleBarState, ModeOnReportsReserveFirstAndOffRestoresTheWindow) {
    // With the menu bar shown, and with a window that had none.
    for (const TitleBarSaved initial : {TitleBarSaved{true, true}, TitleBarSaved{true, false}}) {
        Harness h;
        auto& window = h.window;
        auto& machine = h.machine;
        window.state = initial;
        for (int i = 0; i < 5; ++i) {
            machine.setWanted(true);
            EXPECT_FALSE(window.state.headerBarVisible);
            EXPECT_TRUE(window.overlays);
            EXPECT_FALSE(window.controls);
            EXPECT_EQ(machine.reportedReserve(), 8);
            machine.setWanted(true);  // again: nothing more happens
            machine.setWanted(false);
            EXPECT_FALSE(window.overlays);
            EXPECT_EQ(machine.reportedReserve(), 0);
            EXPECT_EQ(window.state, initial);
        }
        // The page made room before the header bar went, every time.
        EXPECT_EQ(window.reserveAtApply, (std::vector<double>(5, 8)));
        EXPECT_EQ(h.reserves, (std::vector<double>{8, 0, 8, 0, 8, 0, 8, 0, 8, 0}));
    }
}

TEST(TitleBarState, RevealWaitsForARestingPointerAndHidesAfterItLeaves) {
    Harness h;
    h.on();
    auto& w = h.window;
    auto& m = h.machine;

    // Passing through the zone in 0.1 s reveals nothing.
    m.triggerEntered();
    w.advance(m, 0.1);
    m.triggerLeft();
    w.advance(m, 1.0);
    EXPECT_FALSE(w.controls);

    // Moving inside the zone restarts the delay each time.
    m.triggerEntered();
    w.advance(m, 0.3);
    m.triggerMoved();
    w.advance(m, 0.3);
    EXPECT_FALSE(w.controls);
    w.advance(m, 0.06);
    EXPECT_TRUE(w.controls);

    // From the edge down to the controls: the cluster keeps them.
    m.clusterEntered();
    m.triggerLeft();
    w.advance(m, 2.0);
    EXPECT_TRUE(w.controls);

    // Leaving the cluster hides them 0.25 s later, not before.
    m.clusterLeft();
    w.advance(m, 0.2);
    EXPECT_TRUE(w.controls);
    w.advance(m, 0.06);
    EXPECT_FALSE(w.controls);

    // Resting where the controls are, without passing the edge, shows nothing.
    m.clusterEntered();
    w.advance(m, 1.0);
    EXPECT_FALSE(w.controls);
    m.clusterLeft();

    // A held button (a drag along the edge) is not a rest.
    w.buttonDown = true;
    m.triggerEntered();
    w.advance(m, 1.0);
    EXPECT_FALSE(w.controls);
    w.buttonDown = false;
    m.triggerLeft();

    // Zone events with the mode off do nothing.
    m.setWanted(false);
    m.triggerEntered();
    w.advance(m, 1.0);
    EXPECT_FALSE(w.controls);
    EXPECT_TRUE(w.timers.empty());
}

TEST(TitleBarState, OverlaysLaidUnderARestingPointerStartTheDelay) {
    Harness h;
    h.window.pointerAtTop = true;
    h.on();
    h.window.advance(h.machine, 0.36);
    EXPECT_TRUE(h.window.controls);
}

TEST(TitleBarState, FullScreenRemovesOverlaysAndReportsZero) {
    Harness h;
    h.on();
    auto& w = h.window;
    auto& m = h.machine;
    m.triggerEntered();
    w.advance(m, 0.4);
    ASSERT_TRUE(w.controls);

    // Announced by the window manager directly (keyboard shortcut of the desktop).
    w.fullScreen = true;
    m.fullScreenChanged();
    EXPECT_FALSE(w.overlays);
    EXPECT_FALSE(w.controls);
    EXPECT_EQ(m.reportedReserve(), 0);
    EXPECT_FALSE(w.state.headerBarVisible) << "full screen leaves the mode's flags alone";

    // Turning the mode off in full screen restores nothing until full screen ends.
    m.setWanted(false);
    EXPECT_FALSE(w.state.headerBarVisible);
    m.setWanted(true);
    w.fullScreen = false;
    m.fullScreenChanged();
    EXPECT_TRUE(w.overlays);
    EXPECT_FALSE(w.controls);
    EXPECT_EQ(m.reportedReserve(), 8);
    EXPECT_EQ(h.reserves, (std::vector<double>{8, 0, 8}));
}

TEST(TitleBarState, StaleTransitionRepairedAfterDeadlineUnlessReallyFullScreen) {
    // Asked for full screen, the window manager never answers (no manager at all under Xvfb).
    {
        Harness h;
        h.on();
        h.machine.beginFullScreenTransition();
        EXPECT_FALSE(h.window.overlays);
        EXPECT_EQ(h.machine.reportedReserve(), 0);
        h.window.advance(h.machine, 5.9);
        h.machine.reconcile();  // focus or resize before the deadline: still waiting
        EXPECT_TRUE(h.machine.transitionPending());
        EXPECT_FALSE(h.window.overlays);
        h.window.advance(h.machine, 0.3);  // the safety re-check after 6.1 s
        EXPECT_FALSE(h.machine.transitionPending());
        EXPECT_TRUE(h.window.overlays);
        EXPECT_EQ(h.machine.reportedReserve(), 8);
    }
    // Without animation there is no re-check; the next focus change repairs it.
    {
        Harness h;
        h.machine.setAnimates(false);
        h.on();
        h.machine.beginFullScreenTransition();
        h.window.advance(h.machine, 30);
        EXPECT_TRUE(h.machine.transitionPending());
        h.machine.reconcile();
        EXPECT_TRUE(h.window.overlays);
    }
    // The window did go full screen without an announcement: the deadline
    // must not take it for stale.
    {
        Harness h;
        h.on();
        h.machine.beginFullScreenTransition();
        h.window.fullScreen = true;
        h.window.advance(h.machine, 10);
        h.machine.reconcile();
        EXPECT_TRUE(h.machine.inFullScreen());
        EXPECT_FALSE(h.window.overlays);
        EXPECT_EQ(h.machine.reportedReserve(), 0);
    }
}

TEST(TitleBarState, WithoutAnimationRevealAndHideAreImmediate) {
    Harness h;
    h.machine.setAnimates(false);
    h.on();
    h.machine.triggerEntered();
    EXPECT_TRUE(h.window.controls);
    h.machine.triggerLeft();
    EXPECT_FALSE(h.window.controls);
    EXPECT_TRUE(h.window.timers.empty());
}

}  // namespace
}  // namespace tallowmark
