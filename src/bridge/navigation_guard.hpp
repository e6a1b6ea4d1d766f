#pragma once

// Keeps the web views on the page's own files, and decides which frames may
// call the bridge. One instance serves both web views.

#include <optional>
#include <string>

namespace tallowmark {

class PageGuard {
public:
    // `pageURL` is the file URL of the page; its folder becomes the allowed one.
    explicit PageGuard(const std::string& pageURL);

    bool allows(const std::optional<std::string>& url) const;

    // Standardised folder path with a trailing "/"; empty when the page URL
    // was not a file URL, which then allows no file at all.
    const std::string& allowedDirectory() const { return allowedDirectory_; }

private:
    std::string allowedDirectory_;
};

}  // namespace tallowmark
