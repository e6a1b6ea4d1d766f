// Feeds arbitrary bytes to the update feed reader and the rules it applies,
// and checks the one promise that matters: whatever a feed says, an update is
// offered only for an https package on the vendor's host, and only when it is
// newer than the running build.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/json_helpers.hpp"
#include "update/update_rules.hpp"

using namespace tallowmark;
using namespace tallowmark::update;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::set<std::string> hosts{"tallowmark.org"};
    const std::string local = "20261029-5e9d804";

    for (std::optional<double> localTime : {std::optional<double>{}, std::optional<double>{1793000000.0}}) {
        const auto offered = parseFeed(bytes, local, localTime, hosts);
        if (!offered) continue;
        if (!isAllowedDownloadURL(offered->zipURL, hosts)) std::abort();
        const auto parts = parseURL(offered->zipURL);
        if (!parts || parts->host.size() != std::string("tallowmark.org").size()) std::abort();
        if (!buildDay(offered->stamp) || *buildDay(offered->stamp) < 20261029) std::abort();
        if (offered->stamp == local) std::abort();
    }

    // The same bytes as a URL, a stamp and a build-time text.
    if (isAllowedDownloadURL(bytes, hosts)) {
        const auto parts = parseURL(bytes);
        if (!parts || parts->scheme.size() != 5) std::abort();
    }
    const auto day = buildDay(bytes);
    if (day && bytes.empty()) std::abort();
    if (isNewer(bytes, std::nullopt, bytes, std::nullopt)) std::abort();  // never newer than itself

    auto json = parseJson(bytes);
    if (json) {
        (void)manifestBuildTime(&*json);
        (void)buildTimeFrom(&*json);
    }
    (void)buildTimeValue(Json(std::string(bytes)));
    return 0;
}
