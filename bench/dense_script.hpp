#pragma once

// A long, text-dense script for the open benchmark: A4 pages of 64 lines in a
// small face, words varying from page to page, then rewritten by qpdf with
// object streams and linearised, as the scripts people bring often are.
// Written once per page count and process.
#include <cairo-pdf.h>
#include <glib.h>
#include <pango/pangocairo.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "bench_script.hpp"

namespace tallowmark::bench {

// The query that occurs once only, on the last page.
inline std::string lastPageMarker(int pages) { return "curtain call " + std::to_string(pages); }

inline std::filesystem::path denseScriptPdf(int pages) {
    static std::map<int, std::filesystem::path> made;
    if (auto found = made.find(pages); found != made.end()) return found->second;
    const auto dir = std::filesystem::temp_directory_path();
    const auto plain = dir / ("tallowmark-dense-plain-" + std::to_string(pages) + ".pdf");
    const auto path = dir / ("tallowmark-dense-" + std::to_string(pages) + ".pdf");

    static const char* const words[] = {
        "the",     "storm",  "breaks", "over",  "harbour", "and",    "lanterns", "swing",  "while",   "sailors",
        "shout",   "orders", "across", "deck",  "quietly", "she",    "turns",    "toward", "window",  "letter",
        "burns",   "slowly", "candle", "light", "falls",   "on",     "stage",    "left",   "enter",   "MARGARET",
        "exit",    "THOMAS", "pause",  "music", "rises",   "cue",    "door",     "opens",  "silence", "beyond"};
    constexpr int wordCount = sizeof(words) / sizeof(words[0]);
    std::uint32_t seed = 2463534242u;
    auto next = [&seed] {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        return seed;
    };

    writeScriptPdf(plain, pages, "Liberation Serif 9.5", 64, 48, 56, 11.5, [&](int page, int line) {
        std::string text = line % 6 == 0 ? std::string(words[29 + 2 * (next() % 2)]) + ".  " : "      ";
        if (page + 1 == pages && line == 30) text += lastPageMarker(pages) + " ";
        while (text.size() < 96) {
            text += words[next() % wordCount];
            text += ' ';
        }
        return text;
    });

    const gchar* argv[] = {"qpdf", "--object-streams=generate", "--linearize", plain.c_str(), path.c_str(), nullptr};
    gint status = 0;
    const bool rewritten = g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_SEARCH_PATH,
                                        nullptr, nullptr, nullptr, nullptr, &status, nullptr) &&
                           g_spawn_check_wait_status(status, nullptr);
    // Without qpdf the plain file still makes a long script, only a less typical one.
    if (!rewritten) std::filesystem::copy_file(plain, path, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(plain);
    return made[pages] = path;
}

}  // namespace tallowmark::bench
