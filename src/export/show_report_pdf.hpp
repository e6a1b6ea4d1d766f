#pragma once

// The show report as printed pages: one A4 page per performance with its
// heading, the acts and intervals, a timeline of every GO and as many of the
// cue times as fit. The CSV export is the complete record; the page is what
// the stage manager files with the show report.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "cues/show_report.hpp"

namespace tallowmark {

// More pages than this are refused rather than drawn: the report log holds at
// most a few hundred real performances, and the PDF is built in memory.
constexpr std::size_t maxReportPages = 1000;

// The report as a PDF, one A4 page per performance (in the order given). The
// file is written whole or not at all; false (and why, in English for the
// operator) when it could not be. Safe on a worker thread.
bool writeShowReportPDF(std::span<const Performance> performances, const std::string& scriptName,
                        std::int64_t intervalMinutes, const std::filesystem::path& to, std::string* why);

}  // namespace tallowmark
