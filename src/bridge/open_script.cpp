#include "bridge/open_script.hpp"

namespace tallowmark {

namespace fs = std::filesystem;

OpenScript::OpenScript(std::shared_ptr<SettingsStore> settings)
    : settings_(std::move(settings)),
      store_(std::make_shared<DocumentStore>()),
      hub_(ControlHub::create(engine_, *settings_, systemControlTransports())) {
    // Read at each GO: a changed guard holds from the next GO on.
    engine_.setGoGuard([settings = settings_.get()] { return settings->settings().goGuardMs; });
    feedback_.setDestinations(settings_->settings().oscFeedback);
}

DocumentStore::OpenResult OpenScript::open(const fs::path& path, const std::string& password) {
    // A long script answers before its lines are all in: its first page is
    // drawn meanwhile, and its crop follows as "documentChanged".
    DocumentStore::OpenResult opened = store_->openScript(path, password, DocumentStore::Lines::inBackground);
    if (!opened.info) return opened;
    if (settings_->settings().dropPageNumbers) {
        if (auto dropped = store_->setDropPageNumbers(true)) opened.info = std::move(dropped);
    }
    engine_.loadSidecar(path);
    if (!engine_.sidecar().crop.empty()) {
        if (auto cropped = store_->setCrop(cropFromList(engine_.sidecar().crop))) opened.info = std::move(cropped);
    }
    settings_->noteRecent(opened.info->path);
    locked_ = settings_->isLocked(opened.info->path);
    return opened;
}

void OpenScript::close() {
    store_->close();
    currentInfo_.reset();
    engine_.unload();
    locked_ = false;
}

void OpenScript::setLocked(bool locked) {
    const std::optional<fs::path> open = path();
    if (!open || locked == locked_) return;
    locked_ = locked;
    settings_->noteLocked(open->string(), locked);
}

std::optional<fs::path> OpenScript::path() const {
    if (auto info = store_->currentInfo()) return fs::path(info->path);
    return std::nullopt;
}

std::string OpenScript::heldPasswordFor(const fs::path& path) const {
    const std::optional<fs::path> open = this->path();
    std::error_code error;
    if (!open || !fs::equivalent(*open, path, error)) return {};
    return store_->password();
}

}  // namespace tallowmark
