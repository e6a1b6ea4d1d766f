#include "update/release_package.hpp"

#include "update/build_info.hpp"
#include "update/package_archive.hpp"
#include "update/update_rules.hpp"

namespace tallowmark::update {

std::variant<SignedManifest, std::string> signRelease(const std::filesystem::path& bundle,
                                                      const PackageSigning& signing) {
    std::string identifier = signing.identifier;
    if (identifier.empty()) {
        // Signed for what the folder says it is.
        identifier = runningBuild().identifier;
        if (const auto info = readBundleInfo(bundle)) {
            if (const auto it = info->find("CFBundleIdentifier"); it != info->end() && it->is_string())
                identifier = it->get<std::string>();
        }
    }
    if (auto failed = signBundle(bundle, signing.seed, identifier, signing.team)) return "signing failed: " + *failed;
    // Checked as an installed copy will check it, so a fault shows here and not on the operators' machines.
    auto verified = verifyBundle(bundle, publicKeyOf(signing.seed));
    if (const auto* reason = std::get_if<std::string>(&verified)) return "the signed folder does not verify: " + *reason;
    return verified;
}

std::optional<std::string> makeReleasePackage(const std::filesystem::path& bundle, const PackageSigning& signing,
                                              const std::filesystem::path& zip) {
    const auto signedFor = signRelease(bundle, signing);
    if (const auto* failed = std::get_if<std::string>(&signedFor)) return *failed;
    if (auto failed = packZip(bundle, zip)) return "packing failed: " + *failed;
    return std::nullopt;
}

}  // namespace tallowmark::update
