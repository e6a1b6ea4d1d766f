#pragma once

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/command_line.hpp"

namespace tallowmark::testing {

// Runs the command-line mode table on `arguments`: the exit status (none when
// no mode applied) and everything the mode printed.
inline std::pair<std::optional<int>, std::string> runMode(const std::vector<std::string>& arguments) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    const std::optional<int> status = runCommandLineMode(arguments, out);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return {status, text};
}

}  // namespace tallowmark::testing
