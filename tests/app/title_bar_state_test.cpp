#include "app/model/title_bar_state.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

namespace tallowmark {
namespace {

// A window that records what the machine asks of it, with timers on the test's clock.
class FakeWindow final : public TitleBarSurface {
public:
    double clock = 100;
    bool fullScreen = false, pointerAtTop = false, buttonDown = false, overlays = false, controls = false;
    TitleBarSaved state{true, true};
    std::map<TitleBarTimer, double> timers;  // kind -> due time
    TitleBarState* machine = nullptr;
    std::vector<double> reserveAtApply;  // what the page had been told when the header bar went

    bool isFullScreen() const override { return fullScreen; }
    bool isVisible() const override { return true; }
    TitleBarSaved capture() const override { return state; }
    void applyMode() override {
        EXPECT_FALSE(overlays) << "overlays before the header bar went";
        reserveAtApply.push_back(machine->reportedReserve());
        state = {false, false};
    }
    void restore(const TitleBarSaved& saved) override { state = saved; }
    void installOverlays() override { EXPECT_FALSE(std::exchange(overlays, true)) << "overlays installed twice"; }
    void removeOverlays() override { overlays = false; }
    void showControls(bool shown, bool) override { controls = shown; }
    bool pointerInTrigger() const override { return pointerAtTop; }
    bool anyButtonPressed() const override { return buttonDown; }
    void startTimer(TitleBarTimer timer, double seconds) override { timers[timer] = clock + seconds; }
    void cancelTimer(TitleBarTimer timer) override { timers.erase(timer); }

    // Runs the clock forward, firing timers in due order as a main loop would.
    void advance(double seconds) {
        const double end = clock + seconds;
        auto due = [&] { return std::ranges::min_element(timers, {}, [](const auto& t) { return t.second; }); };
        for (auto next = due(); next != timers.end() && next->second <= end; next = due()) {
            clock = next->second;
            const TitleBarTimer kind = next->first;
            timers.erase(next);
            machine->timerFired(kind);
        }
        clock = end;
    }
};

struct Harness {
    Harness() {
        window.machine = &machine;
        machine.setOnReserveChange([this](double r) { reserves.push_back(r); });
    }
    FakeWindow window;
    TitleBarState machine{window, [this] { return window.clock; }};
    std::vector<double> reserves;
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
            EXPECT_TRUE(!h.window.overlays && h.window.state == initial);
        }
        // The page made room before the header bar went, every time.
        EXPECT_EQ(h.window.reserveAtApply, (std::vector<double>(5, 8)));
        EXPECT_EQ(h.reserves, (std::vector<double>{8, 0, 8, 0, 8, 0, 8, 0, 8, 0}));
    }
}

TEST_F(TitleBarStateTest, RevealWaitsForARestingPointerAndHidesAfterItLeavesUnlessNotAnimated) {
    machine.setWanted(true);
    // Each step: what the pointer did (a button held or not), how long it rested, the controls then.
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
    EXPECT_TRUE(!window.controls && window.timers.empty());
    // Overlays laid under a resting pointer start the delay.
    window.pointerAtTop = true;
    machine.setWanted(true);
    window.advance(0.36);
    EXPECT_TRUE(window.controls);
    // Without animation reveal and hide are immediate.
    machine.setAnimates(false);
    machine.triggerLeft();
    EXPECT_TRUE(!window.controls && window.timers.empty());
    machine.triggerEntered();
    EXPECT_TRUE(window.controls);
}

TEST_F(TitleBarStateTest, FullScreenRemovesOverlaysAndReportsZero) {
    machine.setWanted(true);
    machine.triggerEntered();
    window.advance(0.4);
    ASSERT_TRUE(window.controls);
    // Announced by the window manager directly (keyboard shortcut of the desktop).
    window.fullScreen = true;
    machine.fullScreenChanged();
    EXPECT_TRUE(!window.overlays && !window.controls && machine.reportedReserve() == 0);
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

// A full-screen request never answered (no window manager under Xvfb) is repaired after the deadline,
// by the re-check or, without animation, at the next focus change; unless the window went full screen.
TEST(TitleBarState, StaleTransitionRepairedAfterDeadlineUnlessReallyFullScreen) {
    struct Row { bool animates, fullScreen; double wait; bool reconcile; double more; bool reconcileAgain, repaired; };
    const Row rows[] = {
        {true, false, 5.9, true, 0.3, false, true},  // a focus before the deadline: still waiting
        {false, false, 30, false, 0, true, true},
        {true, true, 10, true, 0, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.wait);
        Harness h;
        h.machine.setAnimates(row.animates);
        h.machine.setWanted(true);
        h.machine.beginFullScreenTransition();
        EXPECT_TRUE(!h.window.overlays && h.machine.reportedReserve() == 0);
        h.window.fullScreen = row.fullScreen;
        h.window.advance(row.wait);
        if (row.reconcile) h.machine.reconcile();
        EXPECT_EQ(h.machine.transitionPending(), !row.fullScreen);
        EXPECT_FALSE(h.window.overlays);
        h.window.advance(row.more);
        if (row.reconcileAgain) h.machine.reconcile();
        EXPECT_FALSE(h.machine.transitionPending());
        EXPECT_EQ(h.machine.inFullScreen(), row.fullScreen);
        EXPECT_EQ(h.window.overlays, row.repaired);
        EXPECT_EQ(h.machine.reportedReserve(), row.repaired ? 8 : 0);
    }
}

}  // namespace
}  // namespace tallowmark
