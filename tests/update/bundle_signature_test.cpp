#include "update/bundle_signature.hpp"

#include <gtest/gtest.h>
#include <sodium.h>
#include <sys/stat.h>

#include <cctype>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace tallowmark::update {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

void makeBundle(const fs::path& app) {
    fs::create_directories(app / "Contents" / "bin");
    fs::create_directories(app / "Contents" / "share" / "tallowmark");
    testing::writeText(app / "Contents" / "bin" / "tallowmark", "program bytes");
    testing::writeText(app / "Contents" / "Info.json", "{\"CFBundleVersion\": \"20261103-abc1234\"}\n");
    testing::writeText(app / "Contents" / "share" / "tallowmark" / "index_inlined.html", "<html></html>");
    fs::create_symlink("bin/tallowmark", app / "Contents" / "program");
}

// Replaces the manifest with `bytes` and signs them with `seed`, as a vendor's tool with a fault would.
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
    const SecretSeed vendor = makeKeyPair().value().seed, stranger = makeKeyPair().value().seed;
    using Change = std::function<void(const fs::path& contents)>;
    const auto put = [](std::string name, std::string text) -> Change {
        return [=](const fs::path& contents) { testing::writeText(contents / name, text); };
    };
    const auto relink = [](std::string name, std::string target) -> Change {
        return [=](const fs::path& contents) {
            fs::remove(contents / name);
            fs::create_symlink(target, contents / name);
        };
    };
    // The manifest replaced by these bytes and signed with the vendor's key, as a faulty tool would.
    const auto signedAs = [&](std::string bytes) -> Change {
        return [=, &vendor](const fs::path& contents) { signRawManifest(contents.parent_path(), bytes, vendor); };
    };
    const std::string files = R"({"identifier": "x", "team": "t", "files": {)", hash(64, 'a');
    const std::string notSigned = "the bundle holds a file that is not signed: ", badEntry =
        "the signature manifest has a bad entry: ", foreign = "the signature does not match the vendor's key";
    struct Row {
        const char* what;
        Change change;
        std::string reason;  // empty: valid
        const SecretSeed* checkedWith = nullptr;  // default: the vendor's
    };
    const Row rows[] = {
        {"untouched", [](const fs::path&) {}, ""},
        // Signing again replaces the earlier signature, which is not taken for a file of the bundle.
        {"signed again after a file was added",
         [&](const fs::path& c) {
             put("share/tallowmark/new.txt", "x")(c);
             ASSERT_EQ(signBundle(c.parent_path(), vendor, "org.tallowmark.Tallowmark", vendorTeam), std::nullopt);
         },
         ""},
        {"a byte changed", put("bin/tallowmark", "program bytez"), "a signed file was changed: Contents/bin/tallowmark"},
        {"an extra file", put("share/tallowmark/extra.js", "x"), notSigned + "Contents/share/tallowmark/extra.js"},
        {"an extra file beside the signature", put("_CodeSignature/more", "x"), notSigned + "Contents/_CodeSignature/more"},
        {"a missing file", [](const fs::path& c) { fs::remove(c / "Info.json"); },
         "a signed file is missing: Contents/Info.json"},
        {"a link retargeted", relink("program", "Info.json"), "a signed file was changed: Contents/program"},
        {"a file replaced by a link to the same bytes",
         [&](const fs::path& c) {
             fs::rename(c / "bin" / "tallowmark", c / "bin" / "real");
             relink("bin/tallowmark", "real")(c);
         },
         "a signed file changed its kind: Contents/bin/tallowmark"},
        {"a pipe in the folder", [](const fs::path& c) { ::mkfifo((c / "pipe").c_str(), 0644); },
         "Contents/pipe is neither a file, a folder nor a link"},
        {"signed by another key", [](const fs::path&) {}, foreign, &stranger},
        {"manifest edited after signing, though it reads the same",
         [](const fs::path& c) { std::ofstream(c / "_CodeSignature/CodeResources.json", std::ios::app) << ' '; }, foreign},
        {"signature missing", [](const fs::path& c) { fs::remove(c / "_CodeSignature" / "signature"); },
         "the bundle has no readable signature"},
        {"manifest not JSON", signedAs("{\"identifier\": "), "the signature manifest is not a JSON object"},
        {"manifest without its team", signedAs(R"({"identifier": "x", "files": {}})"),
         "the signature manifest lacks its identifier, team or files"},
        {"manifest listing a path outside", signedAs(files + R"("../x": {"sha256": ")" + hash + "\"}}}"),
         badEntry + "../x"},
        {"manifest with a short hash", signedAs(files + R"("Contents/Info.json": {"sha256": "ab"}}})"),
         badEntry + "Contents/Info.json"},
        {"manifest with a link out", signedAs(files + R"("Contents/l": {"symlink": "../../x"}}})"), badEntry + "Contents/l"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const fs::path app = dir / "TALLOWMARK.app";
        makeBundle(app);
        ASSERT_EQ(signBundle(app, vendor, "org.tallowmark.Tallowmark", vendorTeam), std::nullopt);
        row.change(app / "Contents");
        const auto result = verifyBundle(app, publicKeyOf(row.checkedWith ? *row.checkedWith : vendor));
        const auto* manifest = std::get_if<SignedManifest>(&result);
        EXPECT_EQ(manifest ? "" : std::get<std::string>(result), row.reason);
        if (manifest) { EXPECT_EQ(manifest->identifier + " " + manifest->team, "org.tallowmark.Tallowmark ZQ48TNV7PX"); }
    }
}

TEST(ReleaseKeys, PairsAreFreshAndKeysReadBackOnlyFromBareHex) {
    const auto one = makeKeyPair(), two = makeKeyPair();
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->publicKey, publicKeyOf(one->seed));
    EXPECT_NE(one->seed, two->seed);
    const std::string hex = keyHex(one->publicKey);
    EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos);
    std::string upper = hex;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // The .pub file holds the hex and a line end; a secret key file is never read as a public key.
    for (const std::string& text : {hex, hex + "\n", hex + "\r\n", upper})
        EXPECT_EQ(keyFromHex(text), one->publicKey) << '"' << text << '"';
    for (const std::string& text : {hex.substr(1), hex + "0", hex + " ", " " + hex, hex + "\n\n", hex.substr(0, 63) + "g",
                                    "tallowmark-release-secret-key " + hex, std::string()})
        EXPECT_EQ(keyFromHex(text), std::nullopt) << '"' << text << '"';
}

}  // namespace
}  // namespace tallowmark::update
