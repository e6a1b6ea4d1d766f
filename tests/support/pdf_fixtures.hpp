#pragma once

// PDFs made by the tests: known words at known places, and qpdf transforms.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tallowmark::testing {

struct FixtureText {
    double x = 0;    // left edge, points from the page's left
    double top = 0;  // top of the text's layout box, points from the page's top
    std::string text;
    double size = 12;
};

struct FixturePage {
    double width = 300;
    double height = 400;
    std::vector<FixtureText> texts;
};

// Writes the pages with cairo's PDF surface and pango (Liberation Serif).
void writePdf(const std::filesystem::path& path, const std::vector<FixturePage>& pages);

// How wide pango sets `text` in the fixtures' font, in points.
double textWidth(const std::string& text, double size = 12);

// Script pages as real producers set them: names at x 40, speech from x 130, a cast list with short tabs.
FixturePage twoColumnScriptPage();
// A landscape sheet of two script pages side by side, each with its foot number.
FixturePage spreadPage();
// Word-by-word lines: negative word spacing over space glyphs, and words without space glyphs.
FixturePage tightSetPage();

// One word as `pdftotext -bbox-layout` prints it: points from the page's top-left, y down.
struct LibraryWord {
    std::string text;
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};
// The words of each page in the order the tool prints them; empty when it fails.
std::vector<std::vector<LibraryWord>> libraryWords(const std::filesystem::path& pdf);

// qpdf --rotate=+degrees:pageRange; false when qpdf fails.
bool rotatePdf(const std::filesystem::path& in, const std::filesystem::path& out, int degrees,
               const std::string& pages = "1-z");

// qpdf --encrypt (an empty user password: locked by the owner password only); keyBits 40, 128 or 256.
bool encryptPdf(const std::filesystem::path& in, const std::filesystem::path& out, const std::string& userPassword,
                const std::string& ownerPassword, int keyBits = 256);

// Gives every page the crop box [x1 y1 x2 y2] (PDF user space) through a QDF edit.
bool setCropBox(const std::filesystem::path& in, const std::filesystem::path& out, double x1, double y1,
                double x2, double y2);

struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;  // 3 bytes per pixel, rows top to bottom
};

// Decodes PNG bytes to RGB; an empty bitmap when they are not a PNG.
Bitmap decodePng(const std::vector<std::uint8_t>& png);

struct InkBox {
    double minX = 1, minY = 1, maxX = 0, maxY = 0;  // fractions of the bitmap, y down
    bool empty() const { return maxX < minX; }
};

// Where the dark pixels are.
InkBox inkBox(const Bitmap& bitmap);

}  // namespace tallowmark::testing
