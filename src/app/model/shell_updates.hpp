#pragma once

// The shell's update source until an update feed exists: the running build is
// always the newest, and an install request answers at once through the page's
// "updateProgress" event with the reason it cannot go on, so the page's
// install control never waits for progress that will not come.

#include <functional>
#include <string>

#include "bridge/bridge_interfaces.hpp"
#include "core/json_helpers.hpp"

namespace tallowmark {

class ShellUpdates final : public UpdateSource {
public:
    using Emit = std::function<void(const std::string& event, const Json& payload)>;
    ShellUpdates(std::string currentStamp, Emit emit);

    std::optional<std::string> availableStamp() const override { return std::nullopt; }
    std::string currentStamp() const override { return current_; }
    void install() override;

    // "updateAvailable" for the page when a newer build is known; nothing otherwise.
    void announce() const;

private:
    std::string current_;
    Emit emit_;
};

}  // namespace tallowmark
