#pragma once

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
bool pumpMainUntil(Predicate done, int timeoutMs = 5000);

}  // namespace tallowmark::testing

#include "support/temp_dir_impl.hpp"
