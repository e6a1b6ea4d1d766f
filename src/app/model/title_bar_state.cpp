#include "app/model/title_bar_state.hpp"

namespace tallowmark {

TitleBarState::TitleBarState(TitleBarSurface& surface, std::function<double()> now)
    : surface_(surface), now_(std::move(now)) {}

void TitleBarState::setWanted(bool wanted) {
    wanted_ = wanted;
    reconcile();
}

void TitleBarState::beginFullScreenTransition() {
    transition_ = true;
    deadline_ = now_() + titlebar::transitionDeadline;
    // Nothing else may ever arrive (a window manager that ignores the request),
    // so look again just after the deadline.
    if (animates_) surface_.startTimer(TitleBarTimer::transitionCheck,
                                       titlebar::transitionDeadline + titlebar::transitionRecheck);
    reconcile();
}

void TitleBarState::fullScreenChanged() {
    transition_ = false;
    deadline_.reset();
    surface_.cancelTimer(TitleBarTimer::transitionCheck);
    reconcile();
}

void TitleBarState::reconcile() {
    if (reconciling_) return;
    reconciling_ = true;
    // Past the deadline the transition no longer counts; a window that really
    // went full screen still reads as full screen from the toolkit below.
    if (transition_ && deadline_ && now_() >= *deadline_) {
        transition_ = false;
        deadline_.reset();
    }
    inFullScreen_ = transition_ || surface_.isFullScreen();

    const double reserve = (!inFullScreen_ && wanted_) ? titlebar::reserve : 0;
    bool reported = false;
    // The page makes room before the header bar goes, so nothing jumps under the strip.
    if (!inFullScreen_ && wanted_ && !applied()) {
        report(reserve);
        reported = true;
    }
    if (!inFullScreen_) syncFlags();
    if (applied() && !inFullScreen_) {
        installOverlays();
    } else {
        removeOverlays();
        // In full screen the window manager offers its own way out; hidden
        // controls would only be in the way once the mode comes back.
        if (inFullScreen_ && applied() && revealed_) setControls(false);
    }
    if (!reported) report(reserve);
    reconciling_ = false;
}

void TitleBarState::syncFlags() {
    if (wanted_ && !saved_) {
        saved_ = surface_.capture();
        surface_.applyMode();
    } else if (!wanted_ && saved_) {
        surface_.cancelTimer(TitleBarTimer::reveal);
        surface_.cancelTimer(TitleBarTimer::hide);
        inTrigger_ = false;
        inCluster_ = false;
        removeOverlays();
        if (revealed_) setControls(false);
        surface_.restore(*saved_);
        saved_.reset();
    }
}

void TitleBarState::installOverlays() {
    if (overlays_) return;
    surface_.installOverlays();
    overlays_ = true;
    revealed_ = false;
    surface_.showControls(false, false);
    if (surface_.isVisible() && surface_.pointerInTrigger()) {
        inTrigger_ = true;
        updateReveal();
    }
}

void TitleBarState::removeOverlays() {
    inTrigger_ = false;
    inCluster_ = false;
    surface_.cancelTimer(TitleBarTimer::reveal);
    surface_.cancelTimer(TitleBarTimer::hide);
    if (!overlays_) return;
    surface_.removeOverlays();
    overlays_ = false;
}

void TitleBarState::triggerEntered() {
    if (!overlays_) return;
    inTrigger_ = true;
    updateReveal();
}

void TitleBarState::triggerLeft() {
    if (!overlays_) return;
    inTrigger_ = false;
    updateReveal();
}

void TitleBarState::triggerMoved() {
    // A pointer still moving is passing by: each move restarts the delay.
    if (!overlays_ || revealed_ || !animates_) return;
    inTrigger_ = true;
    updateReveal();
}

void TitleBarState::clusterEntered() {
    if (!overlays_) return;
    inCluster_ = true;
    updateReveal();
}

void TitleBarState::clusterLeft() {
    if (!overlays_) return;
    inCluster_ = false;
    updateReveal();
}

void TitleBarState::updateReveal() {
    surface_.cancelTimer(TitleBarTimer::reveal);
    surface_.cancelTimer(TitleBarTimer::hide);
    if (inTrigger_) {
        if (revealed_) return;
        if (!animates_) return setControls(true);
        surface_.startTimer(TitleBarTimer::reveal, titlebar::revealDelay);
        return;
    }
    // On its way from the edge to the controls: keep them as they are.
    if (inCluster_ || !revealed_) return;
    if (!animates_) return setControls(false);
    surface_.startTimer(TitleBarTimer::hide, titlebar::hideDelay);
}

void TitleBarState::timerFired(TitleBarTimer timer) {
    switch (timer) {
    case TitleBarTimer::reveal:
        // A pressed button means a drag or a selection is under way, not a rest.
        if (overlays_ && inTrigger_ && !revealed_ && !surface_.anyButtonPressed()) setControls(true);
        break;
    case TitleBarTimer::hide:
        // Every zone change cancels this timer, so it only runs for a pointer that stayed away.
        if (overlays_ && revealed_) setControls(false);
        break;
    case TitleBarTimer::transitionCheck:
        reconcile();
        break;
    }
}

void TitleBarState::setControls(bool shown) {
    revealed_ = shown;
    surface_.showControls(shown, animates_);
}

void TitleBarState::report(double reserve) {
    if (reserve == reportedReserve_) return;
    reportedReserve_ = reserve;
    if (onReserveChange_) onReserveChange_(reserve);
}

}  // namespace tallowmark
