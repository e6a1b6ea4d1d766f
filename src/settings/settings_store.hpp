#pragma once

// Holds the current settings and keeps the settings file in step with them:
// every assignment writes the whole file at once. Used on the main thread only.

#include <filesystem>
#include <string>

#include "settings/settings.hpp"

namespace tallowmark {

class SettingsStore {
public:
    // With `inMemory` false the store reads the file at defaultFileURL(); with
    // true it starts from the defaults and never touches the file.
    explicit SettingsStore(bool inMemory);
    // Reads and writes the given file instead of the per-user one.
    explicit SettingsStore(std::filesystem::path fileURL);
    // Without this a string literal would convert to bool and pick the first form.
    explicit SettingsStore(const char* fileURL) : SettingsStore(std::filesystem::path(fileURL)) {}

    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // $XDG_CONFIG_HOME/TALLOWMARK/settings.json (or its fallback under ~/.config).
    static std::filesystem::path defaultFileURL();

    const Settings& settings() const { return settings_; }
    // Replaces the settings and writes the file, also when nothing changed.
    void setSettings(Settings settings);
    // Moves `path` to the front of the recent scripts (at most 10) and writes the file.
    void noteRecent(const std::string& path);
    bool isLocked(const std::string& path) const;
    // Notes the script's show as locked (newest first) or unlocked, and writes the file.
    void noteLocked(const std::string& path, bool locked);

    bool inMemory() const { return inMemory_; }
    const std::filesystem::path& fileURL() const { return fileURL_; }

    static constexpr std::size_t maxRecentDocuments = tallowmark::maxRecentDocuments;
    // The file holds a few kilobytes; anything far larger is not ours to load.
    static constexpr std::size_t maxFileBytes = 16u << 20;

private:
    void load();
    void save();
    bool keepUnreadableFile();

    Settings settings_;
    bool inMemory_;
    std::filesystem::path fileURL_;
    // Set when a file existed but could not be used: it is moved aside before
    // the first write, so an operator's hand-edited file is never lost.
    bool unreadableFilePending_ = false;
    std::string unreadableReason_;
    // The file was read, but only after its damaged text was replaced; it is
    // kept aside all the same, as it was.
    bool repairedFile_ = false;
    bool keepFailureLogged_ = false;
};

}  // namespace tallowmark
