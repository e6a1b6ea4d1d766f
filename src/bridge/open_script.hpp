#pragma once

// The script open in the bridge and everything that belongs to it: the
// document store, the cue engine over its marks, the control hub that runs
// them from outside, and what the page was last told of the script. Main
// thread only, but for the store, which background work reaches weakly.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "control/control_hub.hpp"
#include "control/osc_feedback.hpp"
#include "core/json_helpers.hpp"
#include "cues/cue_engine.hpp"
#include "cues/show_report.hpp"
#include "document/document_store.hpp"
#include "settings/settings_store.hpp"

namespace tallowmark {

class OpenScript {
public:
    explicit OpenScript(std::shared_ptr<SettingsStore> settings);
    OpenScript(const OpenScript&) = delete;
    OpenScript& operator=(const OpenScript&) = delete;

    DocumentStore& store() { return *store_; }
    // Work that outlives the bridge then finds no store, and the store is
    // never destroyed on a worker thread.
    std::weak_ptr<DocumentStore> weakStore() const { return store_; }
    CueEngine& engine() { return engine_; }
    const CueEngine& engine() const { return engine_; }
    ControlHub& hub() { return *hub_; }
    // The show's state sent back to the desks and surfaces in the settings.
    OSCFeedback& feedback() { return feedback_; }

    // Opens the script with its marks, dropping page numbers when the
    // settings ask for it and taking the crop its marks keep, and notes it
    // among the recent scripts. The store's information as it then stands, or
    // why the script did not open (and nothing changed).
    DocumentStore::OpenResult open(const std::filesystem::path& path, const std::string& password);
    void close();
    std::optional<std::filesystem::path> path() const;
    // The show locked against editing: read and run, the marks unchanged.
    // Kept per script in the settings, so a relaunch after a crash is locked too.
    bool locked() const { return locked_; }
    void setLocked(bool locked);
    // The show report of the open script: none when no script is open.
    ShowReportLog* report() { return report_.get(); }
    // Where the report files go; the user's data folder unless set (tests).
    void setReportFolder(std::filesystem::path folder) { reportFolder_ = std::move(folder); }

    // The password to try first on `path`: the open script's, when it is the same file.
    std::string heldPasswordFor(const std::filesystem::path& path) const;

    // The document dictionary the page was last given, without "state": that
    // is added, as it is then, whenever the dictionary is sent.
    const std::optional<Json>& currentInfo() const { return currentInfo_; }
    void setCurrentInfo(std::optional<Json> info) { currentInfo_ = std::move(info); }
    // The page the page last reported as visible; kept when the script closes.
    std::int64_t visiblePage() const { return visiblePage_; }
    // The scanned page in view is read next.
    void setVisiblePage(std::int64_t page);

private:
    void startReport(const std::filesystem::path& script);
    void record(ReportEntry::Kind kind, const Cue* cue, const std::string& source, std::int64_t sinceMs);

    // Declared before the hub, which keeps a reference to it.
    std::shared_ptr<SettingsStore> settings_;
    std::shared_ptr<DocumentStore> store_;
    CueEngine engine_;
    std::shared_ptr<ControlHub> hub_;
    OSCFeedback feedback_{engine_};
    std::int64_t visiblePage_ = 0;
    bool locked_ = false;
    std::optional<Json> currentInfo_;
    std::filesystem::path reportFolder_ = ShowReportLog::defaultFolder();
    std::unique_ptr<ShowReportLog> report_;
};

}  // namespace tallowmark
