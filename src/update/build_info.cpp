#include "update/build_info.hpp"

#include <system_error>

namespace tallowmark::update {

// Written for each build by cmake/BuildFacts.cmake, in a source of its own so a
// new commit recompiles one file.
namespace generated {
extern const char* const buildStamp;
extern const double buildTime;
}  // namespace generated

namespace {
constexpr const char* bundleIdentifier = "org.tallowmark.Tallowmark";
}  // namespace

const BuildInfo& runningBuild() {
    static const BuildInfo info{bundleIdentifier, generated::buildStamp, generated::buildTime};
    return info;
}

std::optional<std::filesystem::path> runningBundle() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::nullopt;
    return bundleOfExecutable(executable);
}

}  // namespace tallowmark::update
