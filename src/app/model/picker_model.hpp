#pragma once

// The rules of the startup picker that need no window: the last-worked date of
// a recent script and its text, the filter, the build line and the theme's
// colours. "Now" and the time zone are passed in so tests fix them.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallowmark {

// When the operator last worked on a script: the marks file's modification time
// when the marks file exists, else the PDF's; none when neither can be read.
// Seconds since the epoch.
std::optional<std::int64_t> lastWorkedTime(const std::filesystem::path& pdfPath);

// en_GB forms: "Today HH:mm", "Yesterday", "d MMM" within the current year,
// "d MMM yy" otherwise. `timeZone` is a GLib identifier ("Europe/Helsinki",
// "UTC", "+02:00"); empty means the local zone.
std::string lastWorkedText(std::int64_t when, std::int64_t now, const std::string& timeZone = {});

// The filter as typed, trimmed of white space and lower-cased.
std::string normalisedFilter(std::string_view typed);
// A row stays when the filter is empty or its lower-cased name contains it.
bool filterMatches(std::string_view fileName, std::string_view typedFilter);

struct RecentRow {
    std::string path;
    std::string name;    // last path component
    std::string detail;  // last-worked text; empty when the file cannot be read
};

std::vector<RecentRow> recentRows(const std::vector<std::string>& paths, std::int64_t now,
                                  const std::string& timeZone = {});
// Indexes of the rows shown: those the filter keeps, at most `limit` of them while collapsed.
std::vector<std::size_t> visibleRows(const std::vector<RecentRow>& rows, std::string_view typedFilter,
                                     bool collapsed, int limit);
// The list without `path` (every occurrence).
std::vector<std::string> withoutRecent(const std::vector<std::string>& paths, const std::string& path);

// "BUILD " + stamp, or "DEVELOPMENT BUILD" for a copy without a stamp ("" or "0").
std::string buildLine(const std::string& stamp);

struct PickerColours {
    std::string brand;
    std::string panel;
    std::string text;
    std::string muted;
};
// "deep" and "dark" share the dark panel; "light" has its own; others read as "deep".
PickerColours pickerColours(std::string_view themeName);

}  // namespace tallowmark
