#include "follow/share_code.hpp"

#include <qrencode.h>

#include <memory>

namespace tallowmark {

namespace {

// Addresses are short; a long text would only make a code no camera reads.
constexpr std::size_t maxTextBytes = 512;
constexpr int quietZone = 4;

}  // namespace

std::optional<std::string> qrCodeSvg(std::string_view text) {
    if (text.empty() || text.size() > maxTextBytes) return std::nullopt;
    const std::string copy(text);  // the library wants a terminated string
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString8bit(copy.c_str(), 0, QR_ECLEVEL_M), &QRcode_free);
    if (!code || code->width <= 0) return std::nullopt;
    const int width = code->width;
    const int size = width + 2 * quietZone;
    std::string path;
    for (int y = 0; y < width; ++y) {
        for (int x = 0; x < width; ++x) {
            // The low bit of each module says dark.
            if (code->data[y * width + x] & 1)
                path += "M" + std::to_string(x + quietZone) + " " + std::to_string(y + quietZone) + "h1v1h-1z";
        }
    }
    const std::string box = std::to_string(size);
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + box + " " + box +
           "\" shape-rendering=\"crispEdges\"><rect width=\"" + box + "\" height=\"" + box +
           "\" fill=\"#fff\"/><path fill=\"#000\" d=\"" + path + "\"/></svg>";
}

}  // namespace tallowmark
