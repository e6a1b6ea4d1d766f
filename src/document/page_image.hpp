#pragma once

// A drawn page as it leaves the document store: its encoded bytes and what
// they are.

#include <cstdint>
#include <string>
#include <vector>

namespace tallowmark {

enum class ImageEncoding {
    png,     // what the "renderPage" call and the command line hand out
    screen,  // the fastest the web view takes: a gray BMP, or a PNG for a page in colour
};

struct EncodedImage {
    std::vector<std::uint8_t> bytes;
    std::string mimeType;
};

}  // namespace tallowmark
