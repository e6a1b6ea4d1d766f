#include "bridge/open_script.hpp"

#include <glib.h>

#include <chrono>
#include <limits>

#include "core/file_identity.hpp"
#include "core/unicode_text.hpp"
#include "core/uuid.hpp"

namespace tallowmark {

namespace fs = std::filesystem;

OpenScript::OpenScript(std::shared_ptr<SettingsStore> settings)
    : settings_(std::move(settings)),
      store_(std::make_shared<DocumentStore>()),
      hub_(ControlHub::create(engine_, *settings_, systemControlTransports())) {
    // Read at each GO: a changed guard holds from the next GO on.
    engine_.setGoGuard([settings = settings_.get()] { return settings->settings().goGuardMs; });
    feedback_.setDestinations(settings_->settings().oscFeedback);
    engine_.onRecord = [this](ReportEntry::Kind kind, const Cue* cue, const std::string& source, std::int64_t sinceMs) {
        record(kind, cue, source, sinceMs);
    };
}

void OpenScript::record(ReportEntry::Kind kind, const Cue* cue, const std::string& source, std::int64_t sinceMs) {
    if (!report_) return;
    // Steady times of two launches cannot be compared; this tells them apart.
    static const std::string launch = makeUUID().substr(0, 8);
    ReportEntry entry;
    entry.kind = kind;
    entry.wallMs = g_get_real_time() / 1000;
    entry.monoUs =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    entry.launch = launch;
    entry.source = source;
    entry.sinceMs = sinceMs;
    if (cue) {
        // The report keeps a few hundred bytes of each; a pasted chapter is
        // not copied whole on every GO.
        entry.number = cutUtf8(cue->number, 1024);
        entry.label = cutUtf8(cue->label, 1024);
        entry.type = cutUtf8(cue->kind, 1024);
    }
    report_->append(entry);
}

DocumentStore::OpenResult OpenScript::open(const fs::path& path, const std::string& password) {
    // Scanned pages are read in the languages set now; the cache keeps them per language.
    DocumentStore::RecognitionOptions reading = store_->recognition();
    reading.enabled = true;
    reading.languages = settings_->settings().ocrLanguages;
    store_->setRecognition(std::move(reading));
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
    startReport(opened.info->path);
    return opened;
}

void OpenScript::setVisiblePage(std::int64_t page) {
    visiblePage_ = page;
    if (page >= 0 && page <= std::numeric_limits<int>::max()) store_->preferScanPage(static_cast<int>(page));
}

void OpenScript::close() {
    store_->close();
    currentInfo_.reset();
    engine_.unload();
    locked_ = false;
    report_.reset();
}

void OpenScript::startReport(const fs::path& script) {
    report_.reset();
    const fs::path file = ShowReportLog::fileFor(reportFolder_, script);
    // The data folder may be anywhere the environment says: never the script
    // or one of its own files under another name.
    std::vector<fs::path> own{script};
    if (engine_.sidecarURL()) own.push_back(*engine_.sidecarURL());
    if (const auto run = engine_.runFileURL()) own.push_back(*run);
    if (findSameFile(file, own)) return;
    report_ = std::make_unique<ShowReportLog>(file);
    record(ReportEntry::Kind::open, nullptr, "ui", 0);
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
