#include "update/bundle_signature.hpp"

#include <gtest/gtest.h>
#include <sodium.h>
#include <sys/stat.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace tallowmark::update {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

SecretSeed newSeed() {
    const auto pair = makeKeyPair();
    EXPECT_TRUE(pair);
    return pair ? pair->seed : SecretSeed{};
}

void makeBundle(const fs::path& app) {
    fs::create_directories(app / "Contents" / "bin");
    fs::create_directories(app / "Contents" / "share" / "tallowmark");
    testing::writeText(app / "Contents" / "bin" / "tallowmark", "program bytes");
    testing::writeText(app / "Contents" / "Info.json", "{\"CFBundleVersion\": \"20261103-abc1234\"}\n");
    testing::writeText(app / "Contents" / "share" / "tallowmark" / "index_inlined.html", "<html></html>");
    fs::create_symlink("bin/tallowmark", app / "Contents" / "program");
}

// Replaces the manifest with `bytes` and signs them with `seed`, as a vendor's
// tool with a fault would.
void signRawManifest(const fs::path& app, const std::string& bytes, const SecretSeed& seed) {
    const fs::path folder = app / "Contents" / "_CodeSignature";
    testing::writeText(folder / "CodeResources.json", bytes);
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_seed_keypair(publicKey, secretKey, seed.data());
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                         secretKey);
    testing::writeText(folder / "signature", std::string(reinterpret_cast<char*>(signature), sizeof signature));
}

TEST(BundleSignature, EveryFileAndLinkIsCoveredBySignatureAndHash) {
    ASSERT_GE(sodium_init(), 0);
    const SecretSeed vendor = newSeed();
    const SecretSeed stranger = newSeed();
    const std::string fileHash(64, 'a');
    struct Row {
        std::string what;
        std::function<void(const fs::path&)> change;
        std::string reason;  // empty: valid
        const SecretSeed* checkedWith = nullptr;  // default: the vendor's
    };
    const std::vector<Row> rows = {
        {"untouched", [](const fs::path&) {}, ""},
        {"a byte changed",
         [](const fs::path& app) { testing::writeText(app / "Contents" / "bin" / "tallowmark", "program bytez"); },
         "changed: Contents/bin/tallowmark"},
        {"an extra file",
         [](const fs::path& app) { testing::writeText(app / "Contents" / "share" / "tallowmark" / "extra.js", "x"); },
         "not signed: Contents/share/tallowmark/extra.js"},
        {"an extra file beside the signature",
         [](const fs::path& app) { testing::writeText(app / "Contents" / "_CodeSignature" / "more", "x"); },
         "not signed: Contents/_CodeSignature/more"},
        {"a missing file", [](const fs::path& app) { fs::remove(app / "Contents" / "Info.json"); },
         "missing: Contents/Info.json"},
        {"an extra link",
         [](const fs::path& app) { fs::create_symlink("bin/tallowmark", app / "Contents" / "second"); },
         "not signed: Contents/second"},
        {"a link retargeted",
         [](const fs::path& app) {
             fs::remove(app / "Contents" / "program");
             fs::create_symlink("Info.json", app / "Contents" / "program");
         },
         "changed: Contents/program"},
        {"a file replaced by a link to the same bytes",
         [](const fs::path& app) {
             fs::rename(app / "Contents" / "bin" / "tallowmark", app / "Contents" / "bin" / "real");
             fs::create_symlink("real", app / "Contents" / "bin" / "tallowmark");
         },
         "kind: Contents/bin/tallowmark"},
        {"a pipe in the folder",
         [](const fs::path& app) { ::mkfifo((app / "Contents" / "pipe").c_str(), 0644); },
         "neither a file"},
        {"signed by another key", [](const fs::path&) {}, "does not match", &stranger},
        {"manifest edited after signing",
         [](const fs::path& app) {
             const fs::path manifest = app / "Contents" / "_CodeSignature" / "CodeResources.json";
             std::string text = testing::readText(manifest);
             text.replace(text.find("ZQ48TNV7PX"), 10, "AAAAAAAAAA");
             testing::writeText(manifest, text);
         },
         "does not match"},
        {"signature missing", [](const fs::path& app) { fs::remove(app / "Contents" / "_CodeSignature" / "signature"); },
         "no readable signature"},
        {"manifest not JSON",
         [&](const fs::path& app) { signRawManifest(app, "{\"identifier\": ", vendor); },
         "not a JSON object"},
        {"manifest without its team",
         [&](const fs::path& app) { signRawManifest(app, R"({"identifier": "x", "files": {}})", vendor); },
         "lacks"},
        {"manifest listing a path outside",
         [&](const fs::path& app) {
             signRawManifest(app, R"({"identifier": "x", "team": "t", "files": {"../x": {"sha256": ")" + fileHash + "\"}}}",
                             vendor);
         },
         "bad entry: ../x"},
        {"manifest with a short hash",
         [&](const fs::path& app) {
             signRawManifest(app, R"({"identifier": "x", "team": "t", "files": {"Contents/Info.json": {"sha256": "ab"}}})",
                             vendor);
         },
         "bad entry: Contents/Info.json"},
        {"manifest with a link out",
         [&](const fs::path& app) {
             signRawManifest(app, R"({"identifier": "x", "team": "t", "files": {"Contents/l": {"symlink": "../../x"}}})",
                             vendor);
         },
         "bad entry: Contents/l"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const fs::path app = dir / "TALLOWMARK.app";
        makeBundle(app);
        ASSERT_EQ(signBundle(app, vendor, "org.tallowmark.Tallowmark", vendorTeam), std::nullopt);
        row.change(app);

        const auto result = verifyBundle(app, publicKeyOf(row.checkedWith ? *row.checkedWith : vendor));

        if (row.reason.empty()) {
            ASSERT_TRUE(std::holds_alternative<SignedManifest>(result)) << std::get<std::string>(result);
            EXPECT_EQ(std::get<SignedManifest>(result).identifier, "org.tallowmark.Tallowmark");
            EXPECT_EQ(std::get<SignedManifest>(result).team, "ZQ48TNV7PX");
        } else {
            ASSERT_TRUE(std::holds_alternative<std::string>(result));
            EXPECT_NE(std::get<std::string>(result).find(row.reason), std::string::npos)
                << std::get<std::string>(result);
        }
    }
}

TEST(BundleSignature, ResigningReplacesTheEarlierSignatureAndNamesWhatWasAsked) {
    TempDir dir;
    const fs::path app = dir / "TALLOWMARK.app";
    makeBundle(app);
    const SecretSeed first = newSeed();
    const SecretSeed second = newSeed();
    ASSERT_EQ(signBundle(app, first, "org.tallowmark.Tallowmark", vendorTeam), std::nullopt);
    testing::writeText(app / "Contents" / "share" / "tallowmark" / "new.txt", "added before the second signing");
    ASSERT_EQ(signBundle(app, second, "org.other.App", "TEAM000000"), std::nullopt);

    const auto result = verifyBundle(app, publicKeyOf(second));
    ASSERT_TRUE(std::holds_alternative<SignedManifest>(result)) << std::get<std::string>(result);
    EXPECT_EQ(std::get<SignedManifest>(result).identifier, "org.other.App");
    EXPECT_EQ(std::get<SignedManifest>(result).team, "TEAM000000");
    EXPECT_TRUE(std::holds_alternative<std::string>(verifyBundle(app, publicKeyOf(first))));
}

TEST(ReleaseKeys, PairsAreFreshAndKeysReadBackOnlyFromBareHex) {
    const auto one = makeKeyPair();
    const auto two = makeKeyPair();
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->publicKey, publicKeyOf(one->seed));
    EXPECT_NE(one->seed, two->seed);
    EXPECT_NE(one->publicKey, PublicKey{});

    const std::string hex = keyHex(one->publicKey);
    EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos);
    std::string upper = hex;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::pair<std::string, bool> rows[] = {
        {hex, true},
        {hex + "\n", true},  // as the .pub file holds it
        {hex + "\r\n", true},
        {upper, true},
        {hex.substr(1), false},
        {hex + "0", false},
        {hex + " ", false},
        {" " + hex, false},
        {hex + "\n\n", false},
        {hex.substr(0, 63) + "g", false},
        {"tallowmark-release-secret-key " + hex, false},  // a secret key file is never read as a public key
        {"", false},
    };
    for (const auto& [text, valid] : rows) {
        EXPECT_EQ(keyFromHex(text), valid ? std::optional(one->publicKey) : std::nullopt) << '"' << text << '"';
    }
}

}  // namespace
}  // namespace tallowmark::update
