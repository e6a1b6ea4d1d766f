#pragma once

// The hidden-title-bar mode ("Maximize Text") as a state machine with no
// toolkit in it: the GTK adapter turns signals into the inputs below and
// carries out what the machine asks of its surface (hide the header bar, lay the
// strip and zones over the page, show the window controls, start or stop a
// timer). The clock is injected so the delays can be tested without waiting.

#include <functional>
#include <optional>

namespace tallowmark {

namespace titlebar {
inline constexpr double stripHeight = 10;     // px, the drag strip over the top edge
inline constexpr double triggerHeight = 6;    // px, where resting reveals the controls
inline constexpr double reserve = 8;          // px, the strip less the page's own 2 px top margin
inline constexpr double revealDelay = 0.35;   // s
inline constexpr double hideDelay = 0.25;     // s
inline constexpr double transitionDeadline = 6.0;  // s, a full-screen change never announced is stale after this
inline constexpr double transitionRecheck = 0.1;   // s after the deadline
inline constexpr double clusterMargin = 4;    // px around the controls that keeps them shown
}  // namespace titlebar

enum class TitleBarTimer { reveal, hide, transitionCheck };

// What the window looked like before the mode changed it, so turning the mode
// off puts back exactly that. The window's size is not in it: hiding the header
// bar leaves the size alone, and a size the operator chose while the mode was on stays.
struct TitleBarSaved {
    bool headerBarVisible = true;
    bool menuBarVisible = false;
    bool operator==(const TitleBarSaved&) const = default;
};

// The window as the machine sees it. Main thread only.
class TitleBarSurface {
public:
    virtual ~TitleBarSurface() = default;
    // The toolkit's own full-screen state (not a transition in progress).
    virtual bool isFullScreen() const = 0;
    virtual bool isVisible() const = 0;
    virtual TitleBarSaved capture() const = 0;
    // Hides the header bar (and the window's menu bar, which then lies over the
    // page with the controls) so the page reaches the top edge; the window keeps its size.
    virtual void applyMode() = 0;
    virtual void restore(const TitleBarSaved& saved) = 0;
    virtual void installOverlays() = 0;
    virtual void removeOverlays() = 0;
    virtual void showControls(bool shown, bool animated) = 0;
    // Where the pointer is now, for overlays laid under a resting pointer.
    virtual bool pointerInTrigger() const = 0;
    virtual bool anyButtonPressed() const = 0;
    // One pending timer per kind: a new request replaces the old one.
    virtual void startTimer(TitleBarTimer timer, double seconds) = 0;
    virtual void cancelTimer(TitleBarTimer timer) = 0;
};

class TitleBarState {
public:
    // `now` answers seconds on a monotonic clock.
    TitleBarState(TitleBarSurface& surface, std::function<double()> now);

    bool wanted() const { return wanted_; }
    void setWanted(bool wanted);
    // Reveal and hide at once, without delays (tests of the layout, reduced motion).
    void setAnimates(bool animates) { animates_ = animates; }

    // The shell asked the window to enter or leave full screen; until the
    // toolkit says it has (fullScreenChanged), the mode treats the window as full screen.
    void beginFullScreenTransition();
    // notify::fullscreened.
    void fullScreenChanged();
    // Focus gained or size changed: a transition never finished is repaired here.
    void reconcile();

    void triggerEntered();
    void triggerLeft();
    void triggerMoved();
    void clusterEntered();
    void clusterLeft();
    void timerFired(TitleBarTimer timer);

    double reportedReserve() const { return reportedReserve_; }
    void setOnReserveChange(std::function<void(double)> callback) { onReserveChange_ = std::move(callback); }

    bool applied() const { return saved_.has_value(); }
    bool overlaysInstalled() const { return overlays_; }
    bool controlsRevealed() const { return revealed_; }
    bool inFullScreen() const { return inFullScreen_; }
    bool transitionPending() const { return transition_; }

private:
    void syncFlags();
    void installOverlays();
    void removeOverlays();
    void updateReveal();
    void setControls(bool shown);
    void report(double reserve);

    TitleBarSurface& surface_;
    std::function<double()> now_;
    std::function<void(double)> onReserveChange_;
    bool wanted_ = false;
    bool inFullScreen_ = false;
    bool transition_ = false;
    std::optional<double> deadline_;
    bool reconciling_ = false;
    std::optional<TitleBarSaved> saved_;
    double reportedReserve_ = 0;
    bool animates_ = true;
    bool overlays_ = false;
    bool revealed_ = false;
    bool inTrigger_ = false;
    bool inCluster_ = false;
};

}  // namespace tallowmark
