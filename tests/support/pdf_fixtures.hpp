#pragma once

// PDFs made by the tests: known words at known places, several pages and sizes,
// and qpdf transforms for rotation and crop boxes.

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

// How wide pango sets `text` in the fixtures' font, in points: where a word
// within a line begins.
double textWidth(const std::string& text, double size = 12);

// Script pages as real producers set them, for the layout tests.
// A name column at x 40 with speech beside it from x 130, each name on the
// first line of its speech; a cast list line with a short tab.
FixturePage twoColumnScriptPage();
// A landscape sheet holding two script pages side by side, each with its own
// foot number.
FixturePage spreadPage();
// Lines of word-by-word type: negative word spacing over space glyphs, and
// words with no space glyph between them.
FixturePage tightSetPage();

// One word as `pdftotext -bbox-layout` prints it: points from the page's
// top-left, y down.
struct LibraryWord {
    std::string text;
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};
// The words of each page in the order the tool prints them; empty when it fails.
std::vector<std::vector<LibraryWord>> libraryWords(const std::filesystem::path& pdf);

// qpdf --rotate=+degrees:pageRange; false when qpdf fails.
bool rotatePdf(const std::filesystem::path& in, const std::filesystem::path& out, int degrees,
               const std::string& pages = "1-z");

// qpdf --encrypt: the user password opens the file (empty: it opens without
// one, locked by its owner password only); keyBits 40, 128 or 256 (AES).
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
