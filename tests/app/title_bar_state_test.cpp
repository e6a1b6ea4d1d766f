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
    bool fullScreen = false, visible = true, pointerAtTop = false, buttonDown = false;
    TitleBarSaved state{true, true};
    bool overlays = false, controls = false;
    std::map<TitleBarTimer, double> timers;  // kind -> due time
    TitleBarState* machine = nullptr;
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
        EXPECT_FALSE(std::exchange(overlays, true)) << "overlays installed twice";
    }
    void removeOverlays() override { overlays = false; }
    void showControls(bool shown, bool) override { controls = shown; }
    bool pointerInTrigger() const override { return pointerAtTop; }
    bool anyButtonPressed() const override { return buttonDown; }
    void startTimer(TitleBarTimer timer, double seconds) override { timers[timer] = clock + seconds; }
    void cancelTimer(TitleBarTimer timer) override { timers.erase(timer); }

    // Runs the clock forward, firing timers in due order as a main loop would.
    void advance(double seconds) {
        const double end = clock + seconds;
        for (;;) {
            const auto next = std::min_element(timers.begin(), timers.end(),
                                               [](const auto& a, const auto& b) { return a.second < b.second; });
            if (next == timers.end() || next->second > end) break;
            clock = next->second;
            const TitleBarTimer kind = next->first;
            timers.erase(next);
            machine->timerFired(kind);
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
};

class TitleBarStateTest : public ::testing::Test, public Harness {};

TEST(TitleBarState, ModeOnReportsReserveFirstAndOffRestoresTheWindow) {
    // With the menu bar shown, and with a window that had none.
    for (const TitleBarSaved initial : {TitleBarSaved{true, true}, TitleBarSaved{true, false}}) {
        Harness h;
        h.window.state = initial;
        for (int i = 0; i < 5; ++i) {
            h.machine.setWanted(true);
            EXPECT_TRUE(!h.window.state.headerBarVisible && h.window.overlays && !h.window.controls);
            EXPECT_EQ(h.machine.reportedReserve(), 8);
            h.machine.setWanted(true);  // again: nothing more happens
            h.machine.setWanted(false);
            EXPECT_FALSE(h.window.overlays);
            EXPECT_EQ(h.window.state, initial);
        }
        // The page made room before the header bar went, every time.
        EXPECT_EQ(h.window.reserveAtApply, (std::vector<double>(5, 8)));
        EXPECT_EQ(h.reserves, (std::vector<double>{8, 0, 8, 0, 8, 0, 8, 0, 8, 0}));
    }
}

TEST_F(TitleBarStateTest, RevealWaitsForARestingPointerAndHidesAfterItLeaves) {
    machine.setWanted(true);
    // Each step: what the pointer did (if anything), with a button held or not,
    // then how long it rested; and whether the controls show after it.
    struct Step { void (TitleBarState::*event)(); double rest; bool controls; bool button = false; };
    const Step steps[] = {
        // Passing through the zone in 0.1 s reveals nothing.
        {&TitleBarState::triggerEntered, 0.1, false},
        {&TitleBarState::triggerLeft, 1.0, false},
        // Moving inside the zone restarts the delay each time.
        {&TitleBarState::triggerEntered, 0.3, false},
        {&TitleBarState::triggerMoved, 0.3, false},
        {nullptr, 0.06, true},
        // From the edge down to the controls: the cluster keeps them.
        {&TitleBarState::clusterEntered, 0, true},
        {&TitleBarState::triggerLeft, 2.0, true},
        // Leaving the cluster hides them 0.25 s later, not before.
        {&TitleBarState::clusterLeft, 0.2, true},
        {nullptr, 0.06, false},
        // Resting where the controls are, without passing the edge, shows nothing.
        {&TitleBarState::clusterEntered, 1.0, false},
        {&TitleBarState::clusterLeft, 0, false},
        // A held button (a drag along the edge) is not a rest.
        {&TitleBarState::triggerEntered, 1.0, false, true},
        {&TitleBarState::triggerLeft, 0, false},
    };
    for (const Step& step : steps) {
        window.buttonDown = step.button;
        if (step.event) (machine.*step.event)();
        window.advance(step.rest);
        EXPECT_EQ(window.controls, step.controls) << "at " << window.clock;
    }
    // Zone events with the mode off do nothing.
    machine.setWanted(false);
    machine.triggerEntered();
    window.advance(1.0);
    EXPECT_FALSE(window.controls);
    EXPECT_TRUE(window.timers.empty());
    // Overlays laid under a resting pointer start the delay.
    window.pointerAtTop = true;
    machine.setWanted(true);
    window.advance(0.36);
    EXPECT_TRUE(window.controls);
}

TEST_F(TitleBarStateTest, WithoutAnimationRevealAndHideAreImmediate) {
    machine.setAnimates(false);
    machine.setWanted(true);
    machine.triggerEntered();
    EXPECT_TRUE(window.controls);
    machine.triggerLeft();
    EXPECT_FALSE(window.controls);
    EXPECT_TRUE(window.timers.empty());
}

TEST_F(TitleBarStateTest, FullScreenRemovesOverlaysAndReportsZero) {
    machine.setWanted(true);
    machine.triggerEntered();
    window.advance(0.4);
    ASSERT_TRUE(window.controls);

    // Announced by the window manager directly (keyboard shortcut of the desktop).
    window.fullScreen = true;
    machine.fullScreenChanged();
    EXPECT_FALSE(window.overlays || window.controls);
    EXPECT_EQ(machine.reportedReserve(), 0);
    EXPECT_FALSE(window.state.headerBarVisible) << "full screen leaves the mode's flags alone";

    // Turning the mode off in full screen restores nothing until full screen ends.
    machine.setWanted(false);
    EXPECT_FALSE(window.state.headerBarVisible);
    machine.setWanted(true);
    window.fullScreen = false;
    machine.fullScreenChanged();
    EXPECT_TRUE(window.overlays && !window.controls);
    EXPECT_EQ(reserves, (std::vector<double>{8, 0, 8}));
}

TEST(TitleBarState, StaleTransitionRepairedAfterDeadlineUnlessReallyFullScreen) {
    // Asked for full screen, the window manager never answers (no manager at all under Xvfb).
    {
        Harness h;
        h.machine.setWanted(true);
        h.machine.beginFullScreenTransition();
        EXPECT_FALSE(h.window.overlays);
        EXPECT_EQ(h.machine.reportedReserve(), 0);
        h.window.advance(5.9);
        h.machine.reconcile();  // focus or resize before the deadline: still waiting
        EXPECT_TRUE(h.machine.transitionPending());
        EXPECT_FALSE(h.window.overlays);
        h.window.advance(0.3);  // the safety re-check after 6.1 s
        EXPECT_FALSE(h.machine.transitionPending());
        EXPECT_TRUE(h.window.overlays);
        EXPECT_EQ(h.machine.reportedReserve(), 8);
    }
    // Without animation there is no re-check; the next focus change repairs it.
    {
        Harness h;
        h.machine.setAnimates(false);
        h.machine.setWanted(true);
        h.machine.beginFullScreenTransition();
        h.window.advance(30);
        EXPECT_TRUE(h.machine.transitionPending());
        h.machine.reconcile();
        EXPECT_TRUE(h.window.overlays);
    }
    // The window did go full screen without an announcement: the deadline
    // must not take it for stale.
    {
        Harness h;
        h.machine.setWanted(true);
        h.machine.beginFullScreenTransition();
        h.window.fullScreen = true;
        h.window.advance(10);
        h.machine.reconcile();
        EXPECT_TRUE(h.machine.inFullScreen());
        EXPECT_FALSE(h.window.overlays);
        EXPECT_EQ(h.machine.reportedReserve(), 0);
    }
}

}  // namespace
}  // namespace tallowmark
