#include "app/model/app_resources.hpp"

#include <system_error>

namespace tallowmark {

ResourceRoots resourceRootsFor(const std::filesystem::path& program,
                               const std::optional<std::filesystem::path>& buildResources) {
    ResourceRoots roots;
    if (!program.empty()) roots.folders.push_back(program.parent_path().parent_path() / "share" / "tallowmark");
    if (buildResources && !buildResources->empty()) roots.folders.push_back(*buildResources);
    return roots;
}

ResourceRoots defaultResourceRoots() {
    std::error_code ec;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", ec);
#ifdef TALLOWMARK_BUILD_RESOURCE_DIR
    const std::optional<std::filesystem::path> build = std::filesystem::path(TALLOWMARK_BUILD_RESOURCE_DIR);
#else
    const std::optional<std::filesystem::path> build;
#endif
    return resourceRootsFor(ec ? std::filesystem::path() : program, build);
}

std::optional<std::filesystem::path> findResource(const ResourceRoots& roots, std::string_view name,
                                                  std::string_view extension, std::string_view subdirectory) {
    std::string file(name);
    if (!extension.empty()) file += "." + std::string(extension);
    for (const auto& root : roots.folders) {
        auto candidate = root;
        if (!subdirectory.empty()) candidate /= std::filesystem::path(subdirectory);
        candidate /= file;
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> findResource(std::string_view name, std::string_view extension,
                                                  std::string_view subdirectory) {
    return findResource(defaultResourceRoots(), name, extension, subdirectory);
}

}  // namespace tallowmark
