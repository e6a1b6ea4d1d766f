#pragma once

// Page images served by address instead of as Base64 text in a reply: the
// page puts "tallowmark-page://images/<index>/<width>" (the same path under
// the test host's HTTP root) into an <img>, and the web view asks the native
// side for the bytes. This is the toolkit-free half: reading the address,
// refusing what is not a page of the open script, and drawing off the main
// thread. The shell's URI scheme handler and the test host call it.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "document/page_image.hpp"

namespace tallowmark {

class DocumentStore;

inline constexpr std::string_view pageImageScheme = "tallowmark-page";
inline constexpr std::string_view pageImageHost = "images";

struct PageImageAddress {
    int index = 0;
    int width = 0;
    bool operator==(const PageImageAddress&) const = default;
};

// "/<index>/<width>", decimal digits only, with an optional query (the page's
// cache-busting generation) ignored; the width within the render bounds
// (64 to 8192). Anything else is refused with a short reason.
std::variant<PageImageAddress, std::string> parsePageImagePath(std::string_view path);
// The whole address: the scheme above (any letter case) and exactly the host above.
std::variant<PageImageAddress, std::string> parsePageImageURL(std::string_view url);

struct PageImageAnswer {
    std::shared_ptr<const EncodedImage> image;  // null with an error
    std::string error;
};

// Answers `done` exactly once on the main thread: the screen image of the
// addressed page, or why there is none (a refused address, no open script,
// a page the script does not have, a failed drawing). Holds the store weakly.
void servePageImage(std::weak_ptr<DocumentStore> store, std::variant<PageImageAddress, std::string> address,
                    std::function<void(PageImageAnswer)> done);

}  // namespace tallowmark
