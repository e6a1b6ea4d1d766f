#pragma once

// Where the program's own files (the page, the user guide) are found: beside an
// installed program, in the data folder of its prefix; when it runs from the
// build tree, in the build's resource folder. No toolkit here.

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace tallowmark {

// The folders searched, in order.
struct ResourceRoots {
    std::vector<std::filesystem::path> folders;
};

// The installed data folder ("<prefix>/share/tallowmark" for the program in
// "<prefix>/bin"), then the build's resource folder when the build set one.
ResourceRoots defaultResourceRoots();
// The same rule for a given program path and build folder, for tests.
ResourceRoots resourceRootsFor(const std::filesystem::path& program,
                               const std::optional<std::filesystem::path>& buildResources);

// "<root>/<subdirectory>/<name>.<extension>" (just the name when the extension is
// empty) in the first root that holds a regular file of that name.
std::optional<std::filesystem::path> findResource(const ResourceRoots& roots, std::string_view name,
                                                  std::string_view extension, std::string_view subdirectory);
std::optional<std::filesystem::path> findResource(std::string_view name, std::string_view extension,
                                                  std::string_view subdirectory);

}  // namespace tallowmark
