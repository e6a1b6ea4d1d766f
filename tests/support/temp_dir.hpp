#pragma once

#include <glib.h>

#include <filesystem>
#include <string>

namespace tallowmark::testing {

// A fresh folder under the system's temporary folder, removed with its contents
// when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // How many names the folder holds: what a write left behind.
    long entries() const {
        return std::distance(std::filesystem::directory_iterator(path_), std::filesystem::directory_iterator());
    }

private:
    std::filesystem::path path_;
};

std::string readText(const std::filesystem::path& path);
void writeText(const std::filesystem::path& path, const std::string& text);

// Runs the main context until `done` holds or `timeoutMs` pass; true when it held.
template <class Predicate>
bool pumpMainUntil(Predicate done, int timeoutMs = 5000) {
    const gint64 deadline = g_get_monotonic_time() + gint64(timeoutMs) * 1000;
    while (!done()) {
        if (g_get_monotonic_time() > deadline) return false;
        // Blocks at most until a source is ready; background work posts to this context.
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
    }
    return true;
}

}  // namespace tallowmark::testing
