#include "document/bmp_encoder.hpp"

#include <cairo.h>

#include <cstring>
#include <limits>

#include "document/surface_pixels.hpp"

namespace tallowmark {

namespace {

constexpr std::size_t fileHeaderSize = 14;
constexpr std::size_t infoHeaderSize = 40;
constexpr std::size_t paletteSize = 256 * 4;
constexpr std::size_t pixelOffset = fileHeaderSize + infoHeaderSize + paletteSize;

void put16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The sizes in the headers are 32-bit.
constexpr std::size_t maxFileBytes = std::numeric_limits<std::uint32_t>::max() - 16;

// A pixel's gray level; false for a pixel in colour. cairo keeps each pixel
// as a native-endian 0x00RRGGBB word.
bool grayOf(std::uint32_t pixel, std::uint8_t& level) {
    level = static_cast<std::uint8_t>(pixel);
    return (pixel & 0xFFFFFF) == level * 0x010101u;
}

// One row in BMP run-length encoding (8 bits), straight from cairo's pixels:
// a run is (count, level); a stretch without runs of three is (0, n, n
// levels, a pad byte to an even length), for n of 3 or more; the row ends
// with (0, 0). Runs are found on the pixel words, so each run's colour is
// checked once. False at the first pixel in colour.
bool appendRleRow(std::vector<std::uint8_t>& out, const unsigned char* source, std::size_t width) {
    auto at = [source](std::size_t x) {
        std::uint32_t pixel;
        std::memcpy(&pixel, source + 4 * x, 4);
        return pixel;
    };
    std::uint8_t level = 0;
    std::size_t x = 0;
    while (x < width) {
        const std::uint32_t pixel = at(x);
        std::size_t run = 1;
        while (x + run < width && run < 255 && at(x + run) == pixel) ++run;
        if (run >= 3) {
            if (!grayOf(pixel, level)) return false;
            out.push_back(static_cast<std::uint8_t>(run));
            out.push_back(level);
            x += run;
            continue;
        }
        // A stretch, up to where a run of three begins.
        std::size_t end = x + run;
        while (end < width && end - x < 255 && !(end + 2 < width && at(end) == at(end + 1) && at(end) == at(end + 2)))
            ++end;
        const std::size_t n = end - x;
        if (n >= 3) {
            out.push_back(0);
            out.push_back(static_cast<std::uint8_t>(n));
        }
        for (; x < end; ++x) {
            if (!grayOf(at(x), level)) return false;
            if (n < 3) out.push_back(1);  // too short for a stretch: runs of one
            out.push_back(level);
        }
        if (n >= 3 && n % 2) out.push_back(0);
    }
    out.push_back(0);
    out.push_back(0);  // end of row
    return true;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> encodeGrayBmp(cairo_surface_t* surface) {
    const std::optional<SurfacePixels> read = rgb24Pixels(surface);
    if (!read) return std::nullopt;
    const auto [width, height, stride, pixels] = *read;

    std::vector<std::uint8_t> bmp(pixelOffset);
    // A text page is mostly runs of white: a tenth of the raw size is typical.
    bmp.reserve(pixelOffset + static_cast<std::size_t>(width) * static_cast<std::size_t>(height) / 4);
    // Run-length rows must be stored bottom-up (no decoder takes them top-down).
    for (int y = height - 1; y >= 0; --y) {
        if (!appendRleRow(bmp, pixels + static_cast<std::size_t>(y) * stride, static_cast<std::size_t>(width)) ||
            bmp.size() > maxFileBytes)
            return std::nullopt;
    }
    bmp.push_back(0);
    bmp.push_back(1);  // end of bitmap

    std::uint8_t* out = bmp.data();
    out[0] = 'B';
    out[1] = 'M';
    put32(out + 2, static_cast<std::uint32_t>(bmp.size()));
    put32(out + 10, static_cast<std::uint32_t>(pixelOffset));
    std::uint8_t* info = out + fileHeaderSize;
    put32(info, infoHeaderSize);
    put32(info + 4, static_cast<std::uint32_t>(width));
    put32(info + 8, static_cast<std::uint32_t>(height));
    put16(info + 12, 1);  // planes
    put16(info + 14, 8);  // bits per pixel
    put32(info + 16, 1);  // BI_RLE8
    put32(info + 20, static_cast<std::uint32_t>(bmp.size() - pixelOffset));
    put32(info + 24, 2835);  // 72 dpi, unused by viewers
    put32(info + 28, 2835);
    put32(info + 32, 256);
    std::uint8_t* palette = info + infoHeaderSize;
    for (int i = 0; i < 256; ++i) {
        palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = static_cast<std::uint8_t>(i);
        palette[4 * i + 3] = 0;
    }
    return bmp;
}

}  // namespace tallowmark
