#pragma once

// What the running build knows of itself, fixed when it was built, and where
// it runs from. Only a build that runs from an installed TALLOWMARK.app folder
// can replace itself.

#include <filesystem>
#include <optional>
#include <string>

namespace tallowmark::update {

struct BuildInfo {
    std::string identifier;            // bundle identifier, e.g. "org.tallowmark.Tallowmark"
    std::string stamp;                 // "YYYYMMDD-abcdef0", or "0" for a build outside git
    std::optional<double> buildTime;   // seconds since 1970 UTC
};

// The running build, compiled in.
const BuildInfo& runningBuild();

// The TALLOWMARK.app folder holding the running program (its Contents/Info.json
// present), or nothing when the program runs from anywhere else.
std::optional<std::filesystem::path> runningBundle();

// The bundle folder of a program at `executable` (…/TALLOWMARK.app/Contents/bin/tallowmark),
// when it is laid out as a bundle.
std::optional<std::filesystem::path> bundleOfExecutable(const std::filesystem::path& executable);

// The program inside a bundle folder.
std::filesystem::path bundleExecutable(const std::filesystem::path& bundle);

}  // namespace tallowmark::update
