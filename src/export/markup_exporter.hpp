#pragma once

// Writes the marked script: a new PDF with one page per script page, cropped as
// on screen, opened up where lines were inserted, with the marks drawn over it.
// Cue boxes, labels, inserted lines and hidden or struck text come from the
// export layout the page measured; highlights, regions, memos and flags come
// from the marks file.

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "cues/cue_sidecar.hpp"
#include "export/export_layout.hpp"

namespace tallowmark {

struct Rgba {
    double r = 0, g = 0, b = 0, a = 1;
};

class MarkupExporter {
public:
    // Writes the marked script of the PDF at `pdf` to `to`. Nothing is written
    // when `to` is one of the script's own files (export/script_files), the
    // script cannot be opened, or a cue or inserted line sits on a page the
    // layout does not cover (logged). The PDF is drawn in memory and written
    // whole and atomically (core/atomic_file), so a failed export never leaves
    // a half-written file under the chosen name. With the environment variable
    // TALLOWMARK_EXPORT_DEBUG set, label measurements go to `debugOut`.
    // `password` unlocks a script that is locked with one (empty: none).
    static bool exportMarkedScript(const std::filesystem::path& pdf, const CueSidecar& sidecar, const Layout& layout,
                                   const std::filesystem::path& to, bool includeMemos, bool dropPageNumbers,
                                   std::FILE* debugOut = stdout, const std::string& password = {});

    // "#rrggbb" as a colour; anything else takes `fallback`.
    static Rgba hexColor(std::string_view text, std::string_view fallback);
    // Paper and edge colour texts of a memo's colour id.
    static std::pair<std::string, std::string> memoPalette(std::string_view colorID);
    // Left edge of a chip `width` wide placed at `x` on a page `pageWidth` wide:
    // kept inside the page with a margin of `margin`, the left margin winning.
    static double chipOriginX(double x, double width, double pageWidth, double margin);
};

}  // namespace tallowmark
