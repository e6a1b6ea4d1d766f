#pragma once

// The rules that decide whether a published build is offered and whether a
// downloaded package may replace the running one. Pure functions over text and
// JSON, so the feed parser can be fuzzed and every rule tested as a table.

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "core/json_helpers.hpp"

namespace tallowmark::update {

// The vendor's web host, fixed when the program is built (the CMake setting
// TALLOWMARK_UPDATE_HOST). The feed and every package come from it alone.
const std::string& defaultUpdateHost();

// "https://" + host + "/updates/tallowmark.json".
std::string feedURLFor(const std::string& host);

// The identifier a package must carry when the running build names none.
inline constexpr const char* fallbackIdentifier = "com.HALDENFX.TALLOWMARK";

// The feed is a few hundred bytes; anything much larger is not a feed.
inline constexpr std::size_t maxFeedBytes = 64 * 1024;

struct UpdateInfo {
    std::string stamp;
    std::string zipURL;
    bool operator==(const UpdateInfo&) const = default;
};

// The parts of an absolute URL the host rule looks at. Parsed strictly: only
// characters RFC 3986 allows, nothing decoded, nothing normalised.
struct URLParts {
    std::string scheme;  // as written
    std::string host;    // as written; empty without an authority
};
std::optional<URLParts> parseURL(std::string_view url);

// https, and the host in lower case is one of `allowedHosts`, as a whole string.
bool isAllowedDownloadURL(std::string_view url, const std::set<std::string>& allowedHosts);
bool isAllowedDownloadURL(std::string_view url);  // against defaultUpdateHost()

// The build day of a stamp: its first 8 characters as a decimal number.
std::optional<long> buildDay(std::string_view stamp);

bool isNewer(std::string_view remote, std::optional<double> remoteBuildTime, std::string_view local,
             std::optional<double> localBuildTime);

// A build time from a JSON number, or a string that reads wholly as a C-locale
// floating-point number (leading white space refused).
std::optional<double> buildTimeValue(const Json& value);
// "HFXBuildTime" of a build's Info.json object.
std::optional<double> buildTimeFrom(const Json* info);
// "buildTime", else "HFXBuildTime", of a feed object.
std::optional<double> manifestBuildTime(const Json* feed);

// The update a feed offers to a build at `localStamp`, or none.
std::optional<UpdateInfo> parseFeed(std::string_view bytes, std::string_view localStamp,
                                    std::optional<double> localBuildTime, const std::set<std::string>& allowedHosts);

// Reads "Contents/Info.json" of an application folder: a JSON object, or none.
std::optional<Json> readBundleInfo(const std::filesystem::path& bundle);

// None when the unpacked package at `bundle` is this application, carries the
// advertised stamp and is newer than the installed build; else the refusal.
std::optional<std::string> verifyPackageVersion(const std::filesystem::path& bundle, std::string_view advertisedStamp,
                                                std::string_view installedStamp,
                                                std::optional<double> installedBuildTime,
                                                std::string_view installedIdentifier);

}  // namespace tallowmark::update
