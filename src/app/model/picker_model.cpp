#include "app/model/picker_model.hpp"

#include <glib.h>
#include <sys/stat.h>

#include <array>
#include <memory>

#include "cues/cue_sidecar.hpp"

namespace tallowmark {
namespace {

struct TimeZoneUnref {
    void operator()(GTimeZone* zone) const { g_time_zone_unref(zone); }
};
struct DateTimeUnref {
    void operator()(GDateTime* date) const { g_date_time_unref(date); }
};
using TimeZonePtr = std::unique_ptr<GTimeZone, TimeZoneUnref>;
using DateTimePtr = std::unique_ptr<GDateTime, DateTimeUnref>;

TimeZonePtr zoneFor(const std::string& identifier) {
    if (identifier.empty()) return TimeZonePtr(g_time_zone_new_local());
    // An identifier GLib does not know falls back to UTC rather than failing.
    if (GTimeZone* zone = g_time_zone_new_identifier(identifier.c_str())) return TimeZonePtr(zone);
    return TimeZonePtr(g_time_zone_new_utc());
}

// Written out rather than taken from the C library: the picker's texts are
// British English whatever locale the operator runs, and en_GB abbreviates
// September as "Sept".
constexpr std::array<const char*, 12> monthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sept", "Oct", "Nov", "Dec"};

std::optional<std::int64_t> modificationTime(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return static_cast<std::int64_t>(info.st_mtim.tv_sec);
}

std::string lowered(std::string_view text) {
    gchar* down = g_utf8_strdown(text.data(), static_cast<gssize>(text.size()));
    std::string result(down ? down : "");
    g_free(down);
    return result;
}

}  // namespace

std::optional<std::int64_t> lastWorkedTime(const std::filesystem::path& pdfPath) {
    if (auto marks = modificationTime(sidecarPathFor(pdfPath))) return marks;
    return modificationTime(pdfPath);
}

std::string lastWorkedText(std::int64_t when, std::int64_t now, const std::string& timeZone) {
    const TimeZonePtr zone = zoneFor(timeZone);
    DateTimePtr then(g_date_time_new_from_unix_utc(when));
    DateTimePtr today(g_date_time_new_from_unix_utc(now));
    if (!then || !today) return {};
    then.reset(g_date_time_to_timezone(then.get(), zone.get()));
    today.reset(g_date_time_to_timezone(today.get(), zone.get()));
    if (!then || !today) return {};

    const int year = g_date_time_get_year(then.get());
    const int month = g_date_time_get_month(then.get());
    const int day = g_date_time_get_day_of_month(then.get());
    auto sameDay = [&](GDateTime* other) {
        return g_date_time_get_year(other) == year && g_date_time_get_month(other) == month &&
               g_date_time_get_day_of_month(other) == day;
    };
    char text[32];
    if (sameDay(today.get())) {
        g_snprintf(text, sizeof text, "Today %02d:%02d", g_date_time_get_hour(then.get()),
                   g_date_time_get_minute(then.get()));
        return text;
    }
    // Calendar days, not 24 hours: a change across a daylight-saving switch is still "Yesterday".
    GDate todayDate;
    g_date_clear(&todayDate, 1);
    g_date_set_dmy(&todayDate, static_cast<GDateDay>(g_date_time_get_day_of_month(today.get())),
                   static_cast<GDateMonth>(g_date_time_get_month(today.get())),
                   static_cast<GDateYear>(g_date_time_get_year(today.get())));
    g_date_subtract_days(&todayDate, 1);
    if (g_date_get_year(&todayDate) == year && g_date_get_month(&todayDate) == month &&
        g_date_get_day(&todayDate) == day)
        return "Yesterday";
    const char* monthName = monthNames[static_cast<std::size_t>(month - 1)];
    if (year == g_date_time_get_year(today.get())) {
        g_snprintf(text, sizeof text, "%d %s", day, monthName);
    } else {
        g_snprintf(text, sizeof text, "%d %s %02d", day, monthName, year % 100);
    }
    return text;
}

std::string normalisedFilter(std::string_view typed) {
    if (!g_utf8_validate(typed.data(), static_cast<gssize>(typed.size()), nullptr)) return lowered({});
    const char* begin = typed.data();
    const char* end = typed.data() + typed.size();
    while (begin < end && g_unichar_isspace(g_utf8_get_char(begin))) begin = g_utf8_next_char(begin);
    while (end > begin) {
        const char* last = g_utf8_find_prev_char(begin, end);
        if (!last || !g_unichar_isspace(g_utf8_get_char(last))) break;
        end = last;
    }
    return lowered(std::string_view(begin, static_cast<std::size_t>(end - begin)));
}

bool filterMatches(std::string_view fileName, std::string_view typedFilter) {
    const std::string filter = normalisedFilter(typedFilter);
    return filter.empty() || lowered(fileName).find(filter) != std::string::npos;
}

std::vector<RecentRow> recentRows(const std::vector<std::string>& paths, std::int64_t now,
                                  const std::string& timeZone) {
    std::vector<RecentRow> rows;
    rows.reserve(paths.size());
    for (const auto& path : paths) {
        RecentRow row{path, std::filesystem::path(path).filename().string(), {}};
        if (auto when = lastWorkedTime(path)) row.detail = lastWorkedText(*when, now, timeZone);
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<std::size_t> visibleRows(const std::vector<RecentRow>& rows, std::string_view typedFilter,
                                     bool collapsed, int limit) {
    std::vector<std::size_t> shown;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (collapsed && static_cast<int>(shown.size()) >= limit) break;
        if (filterMatches(rows[i].name, typedFilter)) shown.push_back(i);
    }
    return shown;
}

std::vector<std::string> withoutRecent(const std::vector<std::string>& paths, const std::string& path) {
    std::vector<std::string> kept;
    for (const auto& p : paths)
        if (p != path) kept.push_back(p);
    return kept;
}

std::string buildLine(const std::string& stamp) {
    if (stamp.empty() || stamp == "0") return "DEVELOPMENT BUILD";
    return "BUILD " + stamp;
}

PickerColours pickerColours(std::string_view themeName) {
    // The page's own theme colours (accent, panel, text, muted), so the picker
    // and the window that follows it look like one program.
    if (themeName == "light") return {"#9a6700", "#ffffff", "#1f2328", "#57606a"};
    if (themeName == "dark") return {"#e3b341", "#262a31", "#dde3ea", "#a3acb7"};
    return {"#d29922", "#12151b", "#c9d1d9", "#8b949e"};
}

}  // namespace tallowmark
