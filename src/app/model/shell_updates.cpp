#include "app/model/shell_updates.hpp"

namespace tallowmark {

bool shouldRecheckOnActivation(update::UpdateManager::Clock::time_point lastCheck,
                               update::UpdateManager::Clock::time_point now) {
    // Before the first check lastCheck is the distant past, whose distance to now overflows.
    if (lastCheck == update::UpdateManager::Clock::time_point::min()) return true;
    return now - lastCheck > updateRecheckInterval;
}

AlertRequest updateCheckAlert(const std::optional<update::UpdateInfo>& found, const std::string& installedStamp) {
    if (found) {
        return AlertRequest{AlertStyle::informational, "A new TALLOWMARK is available",
                            "Build " + found->stamp +
                                ". TALLOWMARK restarts after the update; your scripts and cues are not touched.",
                            {"Install and Restart", "Later"}};
    }
    return AlertRequest{AlertStyle::informational, "TALLOWMARK is up to date", "Build " + installedStamp + ".", {"OK"}};
}

AlertRequest updatesNotSetUpAlert(const std::string& installedStamp) {
    return AlertRequest{AlertStyle::informational, update::updatesNotSetUp, "Build " + installedStamp + ".", {"OK"}};
}

ShellUpdates::ShellUpdates(std::shared_ptr<update::UpdateManager> manager, Emit emit, std::function<void()> quit)
    : manager_(std::move(manager)), emit_(std::move(emit)) {
    manager_->onQuit = std::move(quit);
    // The manager outlives the shell (it is process-wide); the callback must not outlive this.
    manager_->onAvailable = [this](const update::UpdateInfo& info) {
        if (emit_) emit_("updateAvailable", {{"stamp", info.stamp}});
        for (const auto& listener : listeners_) listener(info.stamp);
    };
}

ShellUpdates::~ShellUpdates() {
    manager_->onAvailable = nullptr;
    manager_->onQuit = nullptr;
}

std::optional<std::string> ShellUpdates::availableStamp() const {
    if (const auto& available = manager_->available()) return available->stamp;
    return std::nullopt;
}

std::optional<std::string> ShellUpdates::unavailable() const {
    if (manager_->isSetUp()) return std::nullopt;
    return update::updatesNotSetUp;
}

void ShellUpdates::install(Progress alsoTo) {
    const Emit emit = emit_;
    manager_->install(
        [emit, alsoTo](std::string text) {
            if (emit) emit("updateProgress", {{"text", text}});
            if (alsoTo) alsoTo(text, false);
        },
        [emit, alsoTo](std::string text) {
            if (emit) emit("updateProgress", {{"text", text}, {"failed", true}});
            if (alsoTo) alsoTo(text, true);
        });
}

void ShellUpdates::announce() const {
    if (!emit_) return;
    if (auto stamp = availableStamp()) emit_("updateAvailable", {{"stamp", *stamp}});
}

void ShellUpdates::onAvailable(std::function<void(const std::string&)> listener) {
    listeners_.push_back(std::move(listener));
}

void ShellUpdates::checkAtLaunch() {
    if (manager_->canInstall()) manager_->check();
}

void ShellUpdates::activated(update::UpdateManager::Clock::time_point now) {
    if (!manager_->canInstall()) return;
    if (shouldRecheckOnActivation(manager_->lastCheck(), now)) manager_->check();
}

void ShellUpdates::checkFromMenu(std::function<void(AlertRequest, bool)> show) {
    if (!manager_->isSetUp()) {
        if (show) show(updatesNotSetUpAlert(manager_->currentStamp()), false);
        return;
    }
    manager_->check([show = std::move(show), installed = manager_->currentStamp()](
                        std::optional<update::UpdateInfo> found) {
        if (show) show(updateCheckAlert(found, installed), found.has_value());
    });
}

}  // namespace tallowmark
