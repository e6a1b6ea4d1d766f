#include "app/model/launch_rules.hpp"

#include <cmath>
#include <filesystem>

#include <glib.h>

#include "cli/command_line.hpp"

namespace tallowmark {

std::optional<std::string> firstPdfPath(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        const std::string extension = std::filesystem::path(path).extension().string();
        if (g_ascii_strcasecmp(extension.c_str(), ".pdf") == 0) return path;
    }
    return std::nullopt;
}

std::optional<std::string> openArgument(const std::vector<std::string>& arguments) {
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == "--open") return expandPathOperand(arguments[i + 1]).string();
    }
    return std::nullopt;
}

std::vector<std::string> applicationFiles(const std::vector<std::string>& arguments) {
    std::vector<std::string> files;
    if (auto path = openArgument(arguments)) files.push_back(*path);
    bool openSeen = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--open" && !openSeen) {
            openSeen = true;
            ++i;  // its operand is already first
            continue;
        }
        if (!arguments[i].empty() && arguments[i][0] != '-') files.push_back(arguments[i]);
    }
    return files;
}

WindowSize mainWindowMinimum(bool maxText) { return {maxText ? 360 : 600, 620}; }

std::optional<std::string> reserveUserScript(double reserve) {
    if (!(reserve > 0) || !std::isfinite(reserve)) return std::nullopt;
    return "document.documentElement.style.setProperty('--tb-reserve', '" +
           std::to_string(static_cast<long long>(std::lround(reserve))) + "px');";
}

std::optional<std::string> traceUserScript(const char* traceVariable) {
    if (traceVariable == nullptr || std::string_view(traceVariable) != "1") return std::nullopt;
    return std::string("window.__tallowmarkTrace = true;");
}

}  // namespace tallowmark
