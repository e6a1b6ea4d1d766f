#include "app/model/shell_updates.hpp"

namespace tallowmark {

ShellUpdates::ShellUpdates(std::string currentStamp, Emit emit)
    : current_(std::move(currentStamp)), emit_(std::move(emit)) {}

void ShellUpdates::install() {
    if (!emit_) return;
    if (availableStamp()) return;  // an installer would report its own progress
    emit_("updateProgress", {{"text", "No newer build of TALLOWMARK is available."}, {"failed", true}});
}

void ShellUpdates::announce() const {
    if (!emit_) return;
    if (auto stamp = availableStamp()) emit_("updateAvailable", {{"stamp", *stamp}});
}

}  // namespace tallowmark
