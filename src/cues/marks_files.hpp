#pragma once

// The files of the open script's marks: the marks file beside the script,
// its five backups, and the one writer thread that writes them (and the run
// file). Saves hand a copy of the marks to the writer and never wait for the
// disk, unless the operator asked and waits for the answer. A marks file that
// could not be read whole is kept as backup 1 before anything overwrites it;
// one larger than this program reads is never written over at all.
// Main thread only, except the jobs on the writer.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/file_writer.hpp"
#include "cues/cue_sidecar.hpp"

namespace tallowmark {

class MarksFiles {
public:
    static constexpr int backupCount = 5;
    // Show.tallowmark -> Show.tallowmark.bak<n>; 1 is the newest.
    static std::filesystem::path backupPath(const std::filesystem::path& sidecarPath, int n);

    // The marks file of the open script; none when no script is open.
    const std::optional<std::filesystem::path>& sidecarURL() const { return sidecarURL_; }
    // One English sentence for the operator about the marks file of the open
    // script: too long to read (and left alone), or repaired. Empty when there
    // is nothing to say, and once the script is closed.
    const std::string& loadWarning() const;

    // Both wait (at most FileWriter::shutdownWait) for the writes of the script
    // that was open, so that nothing of it is lost or read half-done.
    // The marks of the script at `pdfPath`; a fresh record when the file is
    // missing, cannot be read, or is refused.
    CueSidecar open(const std::filesystem::path& pdfPath);
    void close();

    // Hands a copy of `marks` to the writer; false when no script is open or
    // saves are refused. A failed write is logged by the writer.
    bool queueSave(const CueSidecar& marks, bool rotateBackup);
    // The operator's explicit save: waits for the writer and answers whether
    // the file was written.
    bool save(const CueSidecar& marks, bool rotateBackup);
    // The same save (with backup rotation) without waiting: `done` runs on the
    // main thread once the writer has finished it, with whether the file was
    // written. False (and `done` never called) when no script is open. A Save
    // in the middle of a show must not hold the next GO behind the disk.
    bool saveInBackground(const CueSidecar& marks, std::function<void(bool written)> done);
    // The marks of another marks file, to be saved over the open script's;
    // none when no script is open, saves are refused, or the file does not
    // read. Waits for pending writes first (the file may be one of our backups).
    std::optional<CueSidecar> readImport(const std::filesystem::path& marksFile);

    // Waits until every file write asked for so far is done; false on timeout.
    bool flush(std::chrono::milliseconds timeout) { return writer_.flush(timeout); }
    // The run file is written by the same thread, in the same order.
    FileWriter& writer() { return writer_; }

private:
    bool queueSave(const CueSidecar& marks, bool rotateBackup, std::shared_ptr<std::atomic<int>> outcome);
    // True when saves are refused (and says so in the log, once per opening).
    bool savesRefused();
    void waitForWrites();

    std::optional<std::filesystem::path> sidecarURL_;
    // The marks file existed at load but could not be read or decoded; its
    // content must reach the backups before anything overwrites it. Shared with
    // the writer, which clears it once backup 1 holds the old content.
    std::shared_ptr<std::atomic<bool>> keepUnreadableFile_ = std::make_shared<std::atomic<bool>>(false);
    std::string loadWarning_;
    // The marks file holds more than this program reads: nothing may write
    // over it or rotate it while its script is open.
    bool marksRefused_ = false;
    bool marksRefusalLogged_ = false;

    // Last: destroyed first, waiting for what is queued while the rest still stands.
    FileWriter writer_;
};

}  // namespace tallowmark
