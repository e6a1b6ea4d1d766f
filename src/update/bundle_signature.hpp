#pragma once

// The vendor's signature over an application folder: Contents/_CodeSignature/
// CodeResources.json lists every other file of the folder with its SHA-256 and
// names the bundle identifier and the signing team; Contents/_CodeSignature/signature
// is an Ed25519 signature of those exact manifest bytes.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tallowmark::update {

using PublicKey = std::array<unsigned char, 32>;
using SecretSeed = std::array<unsigned char, 32>;

// The public half of the release key, read from a file when the build was
// configured (the CMake setting TALLOWMARK_UPDATE_PUBLIC_KEY); none when the
// build was configured without one, and then it takes no updates.
const std::optional<PublicKey>& buildPublicKey();

struct KeyPair {
    SecretSeed seed;
    PublicKey publicKey;
};

// A new random release key; none when the signature library cannot start.
std::optional<KeyPair> makeKeyPair();

// A key (either half) as the 64 lower-case hex digits the key files hold.
std::string keyHex(const std::array<unsigned char, 32>& key);
// The key in `text`: exactly 64 hex digits, a line end after them allowed.
std::optional<std::array<unsigned char, 32>> keyFromHex(std::string_view text);

inline constexpr const char* vendorTeam = "ZQ48TNV7PX";

struct SignedManifest {
    std::string identifier;
    std::string team;
};

// Checks the signature with `key`, every listed file's hash, that no unlisted
// file (or link) exists, and answers the manifest's identifier and team; or the
// reason it is not validly signed.
std::variant<SignedManifest, std::string> verifyBundle(const std::filesystem::path& bundle, const PublicKey& key);

// Writes the manifest and the signature into `bundle` (replacing earlier ones).
std::optional<std::string> signBundle(const std::filesystem::path& bundle, const SecretSeed& seed,
                                      const std::string& identifier, const std::string& team);

// The public key of a secret seed.
PublicKey publicKeyOf(const SecretSeed& seed);

}  // namespace tallowmark::update
