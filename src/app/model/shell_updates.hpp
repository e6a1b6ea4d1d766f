#pragma once

// The shell's side of self-update, without the toolkit: the page's update calls
// and events over the update manager, the rule for checking again when a window
// comes to the front, and the texts of the "Check for Updates…" alerts.
// Main thread only.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/bridge_interfaces.hpp"
#include "core/json_helpers.hpp"
#include "update/update_manager.hpp"

namespace tallowmark {

// A window coming to the front checks again only after this long since the last check.
inline constexpr std::chrono::seconds updateRecheckInterval{900};

// More than the interval since `lastCheck`.
bool shouldRecheckOnActivation(update::UpdateManager::Clock::time_point lastCheck,
                               update::UpdateManager::Clock::time_point now);

// The alert "Check for Updates…" shows for a check's result; when an update was
// found its first button installs it.
AlertRequest updateCheckAlert(const std::optional<update::UpdateInfo>& found, const std::string& installedStamp);
// The alert for a build that cannot take updates.
AlertRequest updatesNotSetUpAlert(const std::string& installedStamp);

class ShellUpdates final : public UpdateSource {
public:
    using Emit = std::function<void(const std::string& event, const Json& payload)>;
    // Progress of an install: each text, the last one with `failed` set when it failed.
    using Progress = std::function<void(const std::string& text, bool failed)>;

    // Takes over the manager's availability and quit callbacks.
    ShellUpdates(std::shared_ptr<update::UpdateManager> manager, Emit emit, std::function<void()> quit);
    ~ShellUpdates() override;

    std::optional<std::string> availableStamp() const override;
    std::string currentStamp() const override { return manager_->currentStamp(); }
    // "Updates are not set up for this build" in a build without a release key.
    std::optional<std::string> unavailable() const override;
    // The page's "installUpdate": progress as "updateProgress" events.
    void install() override { install(nullptr); }
    // The same, also reporting to a window of the shell (the startup picker).
    void install(Progress alsoTo);

    // "updateAvailable" for the page when an update is already known.
    void announce() const;
    // Told of every update a check finds, besides the page.
    void onAvailable(std::function<void(const std::string& stamp)> listener);

    // The silent checks (at launch, on coming to the front) run only in an
    // installed copy: a build tree or a system package cannot take an update,
    // and its runs (the tests among them) stay off the network. "Check for
    // Updates…" asks in every copy.
    void checkAtLaunch();
    // A window came to the front at `now`.
    void activated(update::UpdateManager::Clock::time_point now);
    // "Check for Updates…": `show` gets the alert for the result, and whether
    // its first button installs a found update. A build without a release key
    // says so at once and asks no one.
    void checkFromMenu(std::function<void(AlertRequest alert, bool offersInstall)> show);

private:
    std::shared_ptr<update::UpdateManager> manager_;
    Emit emit_;
    std::vector<std::function<void(const std::string&)>> listeners_;
};

}  // namespace tallowmark
