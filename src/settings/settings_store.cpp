#include "settings/settings_store.hpp"

#include <fcntl.h>
#include <glib.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "core/atomic_file.hpp"
#include "core/file_identity.hpp"
#include "core/system_log.hpp"

namespace tallowmark {

namespace {

// Renames without ever replacing an existing `to`; 0 or the errno.
int renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // Some file systems (older NFS, FUSE) lack the flag; a per-user folder makes
    // the race between the check and the rename harmless.
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

std::string localTimeStamp() {
    GDateTime* now = g_date_time_new_now_local();
    gchar* text = now ? g_date_time_format(now, "%Y%m%d-%H%M%S") : nullptr;
    std::string stamp = text ? text : "unknown-time";
    g_free(text);
    if (now) g_date_time_unref(now);
    return stamp;
}

}  // namespace

SettingsStore::SettingsStore(bool inMemory) : inMemory_(inMemory), fileURL_(defaultFileURL()) {
    if (!inMemory_) load();
}

SettingsStore::SettingsStore(std::filesystem::path fileURL)
    : inMemory_(false), fileURL_(std::move(fileURL)) {
    load();
}

std::filesystem::path SettingsStore::defaultFileURL() {
    return std::filesystem::path(g_get_user_config_dir()) / "TALLOWMARK" / "settings.json";
}

void SettingsStore::setSettings(Settings settings) {
    settings_ = std::move(settings);
    save();
}

void SettingsStore::noteRecent(const std::string& path) {
    std::vector<std::string>& recent = settings_.recentDocuments;
    std::erase(recent, path);
    recent.insert(recent.begin(), path);
    if (recent.size() > maxRecentDocuments) recent.resize(maxRecentDocuments);
    save();
}

// By file identity: the script reached through a link, or by another path
// text, is the same show and stays locked.
bool SettingsStore::isLocked(const std::string& path) const {
    return std::ranges::any_of(settings_.lockedScripts,
                               [&](const std::string& locked) { return locked == path || sameFile(locked, path); });
}

void SettingsStore::noteLocked(const std::string& path, bool locked) {
    std::vector<std::string>& scripts = settings_.lockedScripts;
    std::erase_if(scripts, [&](const std::string& kept) { return kept == path || sameFile(kept, path); });
    if (locked) scripts.insert(scripts.begin(), path);
    if (scripts.size() > maxLockedScripts) scripts.resize(maxLockedScripts);
    save();
}

void SettingsStore::load() {
    const ReadResult read = readWholeFile(fileURL_, maxFileBytes);
    switch (read.status) {
        case ReadStatus::missing:
            return;
        case ReadStatus::tooLarge:
            unreadableReason_ = "yli 16 MiB";
            break;
        case ReadStatus::failed:
            unreadableReason_ = "lukeminen epaonnistui: " + read.error;
            break;
        case ReadStatus::ok: {
            FileNotes notes;
            if (auto decoded = decodeSettingsFile(read.bytes, notes)) {
                settings_ = std::move(*decoded);
                if (!notes.repaired) return;
                // Read as well as it could be; the file as it was is still kept
                // aside before the first write, like an unusable one.
                repairedFile_ = true;
                logSystem("asetustiedostossa " + fileURL_.string() + " oli vioittunutta tekstia, luettu korvausmerkein");
                break;
            }
            unreadableReason_ = "ei kelvollisia asetuksia";
            break;
        }
    }
    unreadableFilePending_ = true;
}

bool SettingsStore::keepUnreadableFile() {
    struct stat info {};
    if (::lstat(fileURL_.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        return true;  // gone meanwhile: nothing left to keep
    }
    const std::string base =
        fileURL_.filename().string() + (repairedFile_ ? ".before-repair-" : ".unreadable-") + localTimeStamp();
    int error = 0;
    // Several stores started within one second each keep their own copy.
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const std::string name = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        const std::filesystem::path kept = fileURL_.parent_path() / name;
        error = renameNoReplace(fileURL_, kept);
        if (error == 0) {
            if (repairedFile_) {
                logSystem("asetustiedoston " + fileURL_.string() + " alkuperainen sisalto talletettu nimella " +
                          kept.string());
            } else {
                logSystem("asetustiedosto " + fileURL_.string() + " oli kayttokelvoton (" + unreadableReason_ +
                          "); talletettu nimella " + kept.string() + ", kaytossa oletusasetukset");
            }
            return true;
        }
        if (error != EEXIST) break;
    }
    if (!keepFailureLogged_) {
        keepFailureLogged_ = true;
        const std::string what = repairedFile_ ? "asetustiedoston " + fileURL_.string() + " alkuperaista sisaltoa ei"
                                               : "asetustiedosto " + fileURL_.string() + " on kayttokelvoton (" +
                                                     unreadableReason_ + ") eika sita";
        logSystem(what + " voitu siirtaa sivuun (" + std::strerror(error) + "); asetusten muutoksia ei tallenneta");
    }
    return false;
}

void SettingsStore::save() {
    if (inMemory_) return;
    const Json json = encodeSettings(settings_);
    if (!allFinite(json)) {
        logSystem("asetuksissa on luku, jolla ei ole JSON-muotoa; ei tallennettu");
        return;
    }
    std::error_code ignored;
    if (fileURL_.has_parent_path()) std::filesystem::create_directories(fileURL_.parent_path(), ignored);
    if (unreadableFilePending_) {
        // Leave the old file in place rather than lose it; memory stays current.
        if (!keepUnreadableFile()) return;
        unreadableFilePending_ = false;
    }
    std::string error;
    if (!writeFileAtomically(fileURL_, dumpJson(json, 2), &error)) {
        logSystem("asetusten tallennus epaonnistui: " + fileURL_.string() + ": " + error);
    }
}

}  // namespace tallowmark
