#pragma once

// Writes the demo play as a rehearsal-script PDF into a folder, with a marks
// file that already holds the play's cues, placed by searching the written PDF.

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "cues/cue_sidecar.hpp"

namespace tallowmark {

class DemoScriptMaker {
public:
    // Progress and failure lines go to `out`.
    explicit DemoScriptMaker(std::FILE* out = stdout) : out_(out) {}

    // 0 on success, 1 when the folder cannot be made or the PDF not written.
    int run(const std::filesystem::path& folder);

    const std::optional<std::filesystem::path>& lastWrittenPDF() const { return lastWrittenPDF_; }
    int pageCount() const { return pageCount_; }

    // The demo cues placed where their triggers are found in `pdf`; a trigger
    // that is not found parks its cue near the top-left of the first page.
    CueSidecar demoSidecar(const std::string& documentName, const std::filesystem::path& pdf);

private:
    bool writePdf(const std::filesystem::path& path);

    std::FILE* out_;
    std::optional<std::filesystem::path> lastWrittenPDF_;
    int pageCount_ = 0;
};

// "demo-" and the cue number, points turned into hyphens.
std::string demoCueID(std::string_view number);

// "TALLOWMARK Demo" in the user's desktop folder.
std::filesystem::path defaultDemoFolder();

}  // namespace tallowmark
