#include "cues/marks_files.hpp"

#include <glib.h>

#include <system_error>
#include <utility>
#include <vector>

#include "core/atomic_file.hpp"
#include "core/main_queue.hpp"
#include "core/system_log.hpp"
#include "cues/run_state.hpp"

namespace tallowmark {

namespace fs = std::filesystem;

namespace {

// What the writer did with one marks save, for a caller that waits for it.
enum SaveOutcome : int { savePending = 0, saveWritten = 1, saveRefused = 2 };

void report(const std::shared_ptr<std::atomic<int>>& outcome, bool written) {
    if (outcome) outcome->store(written ? saveWritten : saveRefused);
}

// Runs on the writer. The current file is copied to a temporary name before
// anything moves: a file that cannot be copied (a folder in its place, a read
// error) leaves every backup where it was, and a kill part-way leaves backup 1
// whole or absent. True when backup 1 now holds the current file.
bool rotateBackupsOnDisk(const fs::path& url) {
    std::error_code ignored;
    if (!fs::exists(url, ignored)) return false;
    std::optional<StagedFile> copy = StagedFile::copy(url, MarksFiles::backupPath(url, 1));
    if (!copy) return false;
    // Each step ignores its own failure: rotation must never stop a save.
    fs::remove(MarksFiles::backupPath(url, MarksFiles::backupCount), ignored);
    for (int n = MarksFiles::backupCount - 1; n >= 1; --n) {
        const fs::path from = MarksFiles::backupPath(url, n);
        if (fs::exists(from, ignored)) {
            fs::remove(MarksFiles::backupPath(url, n + 1), ignored);
            fs::rename(from, MarksFiles::backupPath(url, n + 1), ignored);
        }
    }
    return copy->commit();
}

// Runs on the writer: backups, the refuse-first check, the write, the log line.
void writeMarksFile(const fs::path& url, const std::string& bytes, bool rotateBackup,
                    const std::shared_ptr<std::atomic<bool>>& keepOld,
                    const std::shared_ptr<std::atomic<int>>& outcome) {
    std::error_code ignored;
    const bool mustKeepOld = keepOld->load() && fs::exists(url, ignored);
    const bool kept = (rotateBackup || mustKeepOld) && rotateBackupsOnDisk(url);
    if (mustKeepOld && !kept) {
        // An unreadable marks file may still hold every cue of the show; never
        // overwrite it unless its content is safe in backup 1.
        logSystem("sivutiedoston tallennus epaonnistui: lukukelvotonta merkintatiedostoa ei "
                  "saatu varmuuskopioksi: " + url.string());
        return report(outcome, false);
    }
    keepOld->store(false);
    std::string error;
    if (!writeFileAtomically(url, bytes, &error)) {
        logSystem("sivutiedoston tallennus epaonnistui: " + error);
        return report(outcome, false);
    }
    report(outcome, true);
}

// 100000 -> "100,000", for the operator's sentence.
std::string withThousands(std::size_t n) {
    std::string digits = std::to_string(n);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

// What the operator calls the records of each list of the marks file.
std::string listNoun(std::string_view key) {
    if (key == "inserts") return "inserted lines";
    if (key == "pageTexts") return "page texts";
    if (key == "crop") return "crop values";
    return std::string(key);  // cues, marks, flags, memos
}

// The file's name as the operator can read it, whatever bytes it is made of.
std::string displayName(const fs::path& path) {
    gchar* name = g_filename_display_basename(path.c_str());
    std::string text = std::string("\"") + name + "\"";
    g_free(name);
    return text;
}

// What the operator is told, and the log line, when a marks file is not read:
// larger than the read limit, or with a list (named) longer than its bound.
std::pair<std::string, std::string> refusalTexts(const fs::path& url, std::string_view overBound) {
    const std::string whatItHolds =
        overBound.empty() ? "is larger than " + std::to_string(maxSidecarBytes >> 20) + " MB"
                          : "holds more than " + withThousands(maxRecordsPerList) + " " + listNoun(overBound);
    const std::string whyNotRead =
        overBound.empty() ? "yli " + std::to_string(maxSidecarBytes >> 20) + " MiB"
                          : "luettelossa \"" + std::string(overBound) + "\" on yli " +
                                std::to_string(maxRecordsPerList) + " kohtaa";
    return {displayName(url) + " " + whatItHolds +
                ", more than this program reads. It was left as it is; marks made now are not saved.",
            "merkintatiedostoa ei lueta: " + whyNotRead +
                "; tiedosto jatetaan ennalleen eika merkintoja tallenneta: " + url.string()};
}

// The script's own files, under every name they may have, and their crash
// debris. Run on the writer at every opening: debris is otherwise only swept
// when the same file is next written, which a show that is only run may
// never do.
void sweepLeftovers(const fs::path& pdfPath, const fs::path& url) {
    std::vector<fs::path> files{url, runFilePathFor(url)};
    for (int n = 1; n <= MarksFiles::backupCount; ++n) files.push_back(MarksFiles::backupPath(url, n));
    std::vector<fs::path> kept = files;
    kept.push_back(pdfPath);
    removeStaleTemporaries(files, kept);
}

}  // namespace

const std::string& MarksFiles::loadWarning() const {
    // The warning belongs to the marks file at sidecarURL_; closing drops
    // that, and with it the warning.
    static const std::string none;
    return sidecarURL_ ? loadWarning_ : none;
}

bool MarksFiles::savesRefused() {
    if (!marksRefused_) return false;
    if (!marksRefusalLogged_ && sidecarURL_) {
        marksRefusalLogged_ = true;
        logSystem("merkintoja ei tallenneta: merkintatiedostoa ei luettu, joten sen paalle ei kirjoiteta: " +
                  sidecarURL_->string());
    }
    return true;
}

fs::path MarksFiles::backupPath(const fs::path& sidecarPath, int n) {
    fs::path path = sidecarPath;
    path += ".bak" + std::to_string(n);
    return path;
}

void MarksFiles::waitForWrites() {
    if (!writer_.flush(FileWriter::shutdownWait)) {
        logSystem("tiedostojen kirjoitus ei valmistunut " + std::to_string(FileWriter::shutdownWait.count() / 1000) +
                  " sekunnissa; jatketaan odottamatta");
    }
}

CueSidecar MarksFiles::open(const fs::path& pdfPath) {
    // The previous script's writes land first, and a script opened again is
    // read as its last write left it.
    waitForWrites();
    const fs::path url = sidecarPathFor(pdfPath);
    sidecarURL_ = url;
    keepUnreadableFile_ = std::make_shared<std::atomic<bool>>(false);
    loadWarning_.clear();
    marksRefused_ = false;
    marksRefusalLogged_ = false;
    writer_.submit(
        url.string() + "#sweep", [pdfPath, url] { sweepLeftovers(pdfPath, url); }, FileWriter::Merge::keeps);

    std::optional<CueSidecar> loaded;
    FileNotes notes;
    const ReadResult file = readWholeFile(url, maxSidecarBytes);
    if (file.status == ReadStatus::ok) loaded = decodeSidecar(file.bytes, notes);
    if (!notes.overBound.empty() || file.status == ReadStatus::tooLarge) {
        // Far beyond any show: reading it whole would stop the opening, and
        // saving over it would throw away what it holds.
        marksRefused_ = true;
        auto [sentence, line] = refusalTexts(url, notes.overBound);
        loadWarning_ = std::move(sentence);
        logSystem(line);
    } else if (loaded && notes.repaired) {
        // The next save, whatever kind, first keeps the file as it was as backup 1.
        keepUnreadableFile_->store(true);
        loadWarning_ = displayName(url) +
                       " had damaged text; it was repaired and the file as it was is kept as backup 1 at the next save.";
        logSystem("merkintatiedostossa oli vioittunutta tekstia, luettu korvausmerkein (alkuperainen siirtyy "
                  "varmuuskopioksi 1 ennen tallennusta): " + url.string());
    }
    if (!loaded) {
        CueSidecar fresh;
        fresh.documentName = pdfPath.filename().string();
        loaded = std::move(fresh);
        if (file.status != ReadStatus::missing && !marksRefused_) {
            keepUnreadableFile_->store(true);
            logSystem("merkintatiedostoa ei voitu lukea, aloitetaan tyhjasta (vanha sisalto "
                      "siirtyy varmuuskopioksi ennen tallennusta): " + url.string());
        }
    }
    return std::move(*loaded);
}

void MarksFiles::close() {
    waitForWrites();
    sidecarURL_.reset();
    // A fresh flag: saves still queued for the closed script keep their own.
    keepUnreadableFile_ = std::make_shared<std::atomic<bool>>(false);
}

bool MarksFiles::queueSave(const CueSidecar& marks, bool rotateBackup) {
    return queueSave(marks, rotateBackup, nullptr);
}

bool MarksFiles::queueSave(const CueSidecar& marks, bool rotateBackup, std::shared_ptr<std::atomic<int>> outcome) {
    if (!sidecarURL_ || savesRefused()) return false;
    // The writer gets a copy of the record and encodes it there: encoding a
    // script of thousands of cues takes tens of milliseconds, which the next
    // GO must not wait for. A rotating save moves backups, so it always runs;
    // a plain one may give way to a newer plain one, which leaves the same
    // files behind.
    writer_.submit(
        sidecarURL_->string(),
        [url = *sidecarURL_, sidecar = marks, rotateBackup, keepOld = keepUnreadableFile_,
         outcome = std::move(outcome)] {
            // A record that cannot be encoded (a real that is not finite) is not written, silently.
            const std::optional<std::string> bytes = encodeSidecar(sidecar);
            if (!bytes) return report(outcome, false);
            writeMarksFile(url, *bytes, rotateBackup, keepOld, outcome);
        },
        rotateBackup ? FileWriter::Merge::keeps : FileWriter::Merge::replaces);
    return true;
}

bool MarksFiles::save(const CueSidecar& marks, bool rotateBackup) {
    auto outcome = std::make_shared<std::atomic<int>>(savePending);
    if (!queueSave(marks, rotateBackup, outcome)) return false;
    if (!writer_.flush(FileWriter::shutdownWait)) {
        logSystem("sivutiedoston tallennus ei valmistunut " +
                  std::to_string(FileWriter::shutdownWait.count() / 1000) + " sekunnissa");
        return false;
    }
    return outcome->load() == saveWritten;
}

bool MarksFiles::saveInBackground(const CueSidecar& marks, std::function<void(bool)> done) {
    if (sidecarURL_ && savesRefused()) {
        // Answered like any save that did not write, so the caller's reply settles.
        postToMain([done = std::move(done)] { done(false); });
        return true;
    }
    auto outcome = std::make_shared<std::atomic<int>>(savePending);
    if (!queueSave(marks, true, outcome)) return false;
    // The writer runs jobs in order and a rotating save is never merged away,
    // so this job sees that save's outcome.
    writer_.submit(
        sidecarURL_->string() + "#saved",
        [outcome, done = std::move(done)] {
            const bool written = outcome->load() == saveWritten;
            postToMain([done, written] { done(written); });
        },
        FileWriter::Merge::keeps);
    return true;
}

std::optional<CueSidecar> MarksFiles::readImport(const fs::path& marksFile) {
    // An import is saved at once, over the file that could not be read.
    if (!sidecarURL_ || savesRefused()) return std::nullopt;
    // The operator may pick one of our own backups: read it as the last edit left it.
    waitForWrites();
    const ReadResult file = readWholeFile(marksFile, maxSidecarBytes);
    if (file.status != ReadStatus::ok) return std::nullopt;
    FileNotes notes;
    std::optional<CueSidecar> imported = decodeSidecar(file.bytes, notes);
    if (!notes.overBound.empty()) {
        logSystem("merkintoja ei tuotu: luettelossa \"" + std::string(notes.overBound) + "\" on yli " +
                  std::to_string(maxRecordsPerList) + " kohtaa: " + marksFile.string());
    }
    if (imported && notes.repaired) {
        logSystem("tuodussa merkintatiedostossa oli vioittunutta tekstia, luettu korvausmerkein: " + marksFile.string());
    }
    return imported;
}

}  // namespace tallowmark
