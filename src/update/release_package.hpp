#pragma once

// The one way a release package is made, by the release tool and by the
// update tests alike: the application folder signed with the release key and
// checked as an installed copy will check it, then packed as the ZIP an
// installed copy downloads.

#include <filesystem>
#include <optional>
#include <string>
#include <variant>

#include "update/bundle_signature.hpp"

namespace tallowmark::update {

struct PackageSigning {
    SecretSeed seed{};
    // Empty: the one the folder's Contents/Info.json names, else the running build's.
    std::string identifier;
    std::string team = vendorTeam;
};

// Signs `bundle` (a TALLOWMARK.app folder): the names it is signed for, or why not.
std::variant<SignedManifest, std::string> signRelease(const std::filesystem::path& bundle,
                                                      const PackageSigning& signing);

// signRelease, then packs the folder into a new ZIP at `zip` (written whole or
// not at all). None on success; else why not.
std::optional<std::string> makeReleasePackage(const std::filesystem::path& bundle, const PackageSigning& signing,
                                              const std::filesystem::path& zip);

}  // namespace tallowmark::update
