#include "support/scan_fixtures.hpp"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>
#include <sstream>
#include <stdexcept>

namespace tallowmark::testing {

FixturePage playPage(double width, double height) {
    static const char* const speeches[][2] = {
        {"ELSA", "Is that the last boat tonight?"},       {"TOMAS", "The last one, if the wind holds."},
        {"ELSA", "Then we wait here until it comes."},    {"TOMAS", "Keep the lantern lit and watch the water."},
        {"WARDEN", "Nobody crosses after dark."},         {"ELSA", "My father crossed every night."},
        {"WARDEN", "Your father knew the river."},        {"TOMAS", "She knows it better than any of us."},
        {"ELSA", "Hold the rope and count the strokes."}, {"WARDEN", "The bell will ring when it lands."}};
    FixturePage page{width, height, {}};
    for (std::size_t i = 0; 56 + 16.0 * i <= height - 40; ++i) {
        page.texts.push_back({40, 40 + 16.0 * i, speeches[i % 10][0]});
        page.texts.push_back({100, 40 + 16.0 * i, speeches[i % 10][1]});
    }
    return page;
}

std::string runTool(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    gchar *out = nullptr, *err = nullptr;
    gint status = 0;
    const bool ran = g_spawn_sync(nullptr, args.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, &err,
                                  &status, nullptr) &&
                     g_spawn_check_wait_status(status, nullptr);
    const std::string output = out ? out : "", complaint = err ? err : "";
    g_free(out);
    g_free(err);
    if (!ran)
        throw std::runtime_error(argv[0] + " failed (scripts/install-deps installs it): " +
                                 complaint.substr(complaint.size() - std::min<std::size_t>(complaint.size(), 1500)));
    return output;
}

void scanPdf(const std::filesystem::path& source, Scan& scan) {
    const std::string grey = scan.pdf.string() + ".png", picture = scan.pdf.string() + ".jpg";
    const auto size = [](const std::string& image, int& width, int& height) {
        std::istringstream(runTool({"identify", "-format", "%w %h", image})) >> width >> height;
    };
    runTool({"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dLastPage=1", "-sDEVICE=pnggray",
             "-r" + std::to_string(scan.dpi), "-o", grey, source.string()});
    size(grey, scan.pageWidth, scan.pageHeight);
    // The page turned on white, the sensor's grain (the same each run) over it, saved as a scanner saves.
    runTool({"convert", grey, "-background", "white", "-rotate", std::to_string(scan.turnDegrees), "-seed", "1",
             "-attenuate", std::to_string(scan.noise), "+noise", "Gaussian", "-quality", "92", picture});
    size(picture, scan.width, scan.height);
    // Debian's ImageMagick may not write PDF; Ghostscript wraps the JPEG as it is, filling the page.
    runTool({"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite", "-dFIXEDMEDIA",
             "-dDEVICEWIDTHPOINTS=" + std::to_string(scan.width * 72.0 / scan.dpi),
             "-dDEVICEHEIGHTPOINTS=" + std::to_string(scan.height * 72.0 / scan.dpi), "--permit-file-read=" + picture,
             "-o", scan.pdf.string(), "viewjpeg.ps", "-c", "(" + picture + ") viewJPEG showpage"});
    std::string text = runTool({"pdftotext", scan.pdf.string(), "-"});
    if (std::any_of(text.begin(), text.end(), [](unsigned char c) { return !std::isspace(c); }))
        throw std::runtime_error(scan.pdf.string() + " has a text layer: " + text.substr(0, 80));
}

std::pair<double, double> sourcePoint(const Scan& scan, double x, double y) {
    // ImageMagick turns about the centre, the canvas grown to hold the corners.
    const double turn = -scan.turnDegrees * std::numbers::pi / 180, dx = x - scan.width / 2.0,
                 dy = y - scan.height / 2.0;
    return {(scan.pageWidth / 2.0 + dx * std::cos(turn) - dy * std::sin(turn)) * 72 / scan.dpi,
            (scan.pageHeight / 2.0 + dx * std::sin(turn) + dy * std::cos(turn)) * 72 / scan.dpi};
}

}  // namespace tallowmark::testing
