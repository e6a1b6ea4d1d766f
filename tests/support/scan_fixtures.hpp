#pragma once

// Scanned script pages made by real tools: a play page set by the fixture
// writer, rasterised by Ghostscript, turned and grained by ImageMagick, and
// wrapped back into a PDF as a bare JPEG, the way a scanner hands one over.

#include <filesystem>
#include <string>
#include <vector>

#include "support/pdf_fixtures.hpp"

namespace tallowmark::testing {

// Speeches filling a page of this size: names at x 40, speech from x 100, 16 pt a line.
FixturePage playPage(double width = 300, double height = 400);

// Runs `argv` (argv[0] found on PATH, no shell) and returns its output;
// std::runtime_error with the tool's complaint when it fails.
std::string runTool(const std::vector<std::string>& argv);

struct Scan {
    std::filesystem::path pdf;
    int dpi = 300;
    double turnDegrees = 0;                                    // clockwise, as a page lies crooked on the glass
    double noise = 0;                                          // ImageMagick's -attenuate for Gaussian noise
    int width = 0, height = 0, pageWidth = 0, pageHeight = 0;  // pixels of the scan, and of the page before the turn
};

// Scans page 1 of `source` into `scan.pdf`, a picture-only page the picture's
// size at its dpi; fills in the sizes. Throws when a tool fails or the PDF
// still has text.
void scanPdf(const std::filesystem::path& source, Scan& scan);

// Where a pixel of the scan was on the source page, points from its top-left.
std::pair<double, double> sourcePoint(const Scan& scan, double x, double y);

}  // namespace tallowmark::testing
