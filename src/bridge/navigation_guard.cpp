#include "bridge/navigation_guard.hpp"

#include <glib.h>

#include <filesystem>

namespace tallowmark {

namespace {

std::optional<std::string> lowerScheme(const std::string& url) {
    gchar* scheme = g_uri_parse_scheme(url.c_str());
    if (!scheme) return std::nullopt;
    gchar* lower = g_ascii_strdown(scheme, -1);
    std::string result(lower);
    g_free(lower);
    g_free(scheme);
    return result;
}

// The path of a file URL with percent escapes decoded and "." and ".."
// resolved, so "web/../secret" cannot pass as a path under "web/".
std::optional<std::string> standardFilePath(const std::string& url) {
    gchar* raw = g_filename_from_uri(url.c_str(), nullptr, nullptr);
    if (!raw) return std::nullopt;
    std::string path = std::filesystem::path(raw).lexically_normal().string();
    g_free(raw);
    return path;
}

}  // namespace

PageGuard::PageGuard(const std::string& pageURL) {
    if (lowerScheme(pageURL) != "file") return;
    auto path = standardFilePath(pageURL);
    if (!path) return;
    std::string folder = std::filesystem::path(*path).parent_path().string();
    if (folder.empty() || folder.back() != '/') folder += '/';
    allowedDirectory_ = folder;
}

bool PageGuard::allows(const std::optional<std::string>& url) const {
    if (!url) return false;
    const auto scheme = lowerScheme(*url);
    if (scheme == "about") return *url == "about:blank";
    if (scheme != "file" || allowedDirectory_.empty()) return false;
    const auto path = standardFilePath(*url);
    // A plain prefix test: the trailing "/" keeps a sibling "web2" out of "web/".
    return path && path->starts_with(allowedDirectory_);
}

}  // namespace tallowmark
