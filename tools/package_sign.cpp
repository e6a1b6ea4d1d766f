// Release tool for the application folder: makes the vendor's key, signs and
// checks a built TALLOWMARK.app, and packs or unpacks its ZIP package with the
// same code the program uses to install an update.
//
//   tallowmark-package-sign --make-key FILE
//   tallowmark-package-sign --sign BUNDLE --key FILE [--identifier ID] [--team TEAM]
//   tallowmark-package-sign --verify BUNDLE [--public-key HEX]
//   tallowmark-package-sign --pack FOLDER ZIP
//   tallowmark-package-sign --unpack ZIP FOLDER
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "update/build_info.hpp"
#include "update/bundle_signature.hpp"
#include "update/package_archive.hpp"

namespace {

using namespace tallowmark::update;
namespace fs = std::filesystem;

void usage() {
    std::fputs(
        "usage: tallowmark-package-sign --make-key FILE\n"
        "       tallowmark-package-sign --sign BUNDLE --key FILE [--identifier ID] [--team TEAM]\n"
        "       tallowmark-package-sign --verify BUNDLE [--public-key HEX]\n"
        "       tallowmark-package-sign --pack FOLDER ZIP\n"
        "       tallowmark-package-sign --unpack ZIP FOLDER\n",
        stderr);
}

std::string hex(const unsigned char* bytes, std::size_t size) {
    std::string text;
    char pair[3];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

template <std::size_t N>
bool fromHex(std::string text, std::array<unsigned char, N>& out) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    std::size_t used = 0;
    return text.size() == 2 * N &&
           sodium_hex2bin(out.data(), N, text.data(), text.size(), nullptr, &used, nullptr) == 0 && used == N;
}

int makeKey(const fs::path& file) {
    SecretSeed seed{};
    randombytes_buf(seed.data(), seed.size());
    const std::string text = hex(seed.data(), seed.size()) + "\n";
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::fprintf(stderr, "cannot create %s: %s\n", file.c_str(), std::strerror(errno));
        return 1;
    }
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (::fchmod(fd, 0600) != 0 || ::close(fd) != 0 || !written) {
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
        return 1;
    }
    const PublicKey key = publicKeyOf(seed);
    sodium_memzero(seed.data(), seed.size());
    std::printf("public key: %s\n{", hex(key.data(), key.size()).c_str());
    for (std::size_t i = 0; i < key.size(); ++i) std::printf("%s0x%02x", i == 0 ? "" : (i % 8 == 0 ? ",\n " : ", "), key[i]);
    std::printf("}\n");
    return 0;
}

std::optional<SecretSeed> readKey(const fs::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        std::fprintf(stderr, "cannot read the key %s: %s\n", file.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    if (info.st_mode & 077) {
        std::fprintf(stderr, "the key %s is readable by others; chmod 600 it first\n", file.c_str());
        return std::nullopt;
    }
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    SecretSeed seed{};
    if (!in || !fromHex(text.str(), seed)) {
        std::fprintf(stderr, "the key %s is not 64 hex digits\n", file.c_str());
        return std::nullopt;
    }
    return seed;
}

// The identifier written in the bundle's Info.json, so a bundle is signed for
// what it says it is.
std::optional<std::string> bundleIdentifier(const fs::path& bundle) {
    std::ifstream in(bundle / "Contents" / "Info.json");
    const nlohmann::json info = nlohmann::json::parse(in, nullptr, false);
    if (!info.is_object() || !info.contains("CFBundleIdentifier") || !info["CFBundleIdentifier"].is_string())
        return std::nullopt;
    return info["CFBundleIdentifier"].get<std::string>();
}

// "--name value" pairs after the command's own operand.
std::optional<std::map<std::string, std::string>> options(const std::vector<std::string>& rest,
                                                          const std::vector<std::string>& known) {
    std::map<std::string, std::string> found;
    for (std::size_t i = 0; i < rest.size(); i += 2) {
        if (std::find(known.begin(), known.end(), rest[i]) == known.end() || i + 1 >= rest.size()) return std::nullopt;
        found[rest[i]] = rest[i + 1];
    }
    return found;
}

int sign(const fs::path& bundle, const std::map<std::string, std::string>& given) {
    if (!given.count("--key")) {
        usage();
        return 2;
    }
    const std::optional<SecretSeed> seed = readKey(given.at("--key"));
    if (!seed) return 1;
    std::string identifier = runningBuild().identifier;
    if (given.count("--identifier")) {
        identifier = given.at("--identifier");
    } else if (const auto written = bundleIdentifier(bundle)) {
        identifier = *written;
    }
    const std::string team = given.count("--team") ? given.at("--team") : vendorTeam;
    if (const auto failed = signBundle(bundle, *seed, identifier, team)) {
        std::fprintf(stderr, "signing failed: %s\n", failed->c_str());
        return 1;
    }
    const PublicKey key = publicKeyOf(*seed);
    std::printf("signed %s for %s, team %s, key %s\n", bundle.c_str(), identifier.c_str(), team.c_str(),
                hex(key.data(), key.size()).c_str());
    return 0;
}

int verify(const fs::path& bundle, const std::map<std::string, std::string>& given) {
    PublicKey key = vendorPublicKey();
    if (given.count("--public-key") && !fromHex(given.at("--public-key"), key)) {
        std::fputs("the public key is not 64 hex digits\n", stderr);
        return 2;
    }
    const auto result = verifyBundle(bundle, key);
    if (const auto* failed = std::get_if<std::string>(&result)) {
        std::printf("not validly signed: %s\n", failed->c_str());
        return 1;
    }
    const auto& manifest = std::get<SignedManifest>(result);
    std::printf("valid: %s, team %s\n", manifest.identifier.c_str(), manifest.team.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (sodium_init() < 0) return 1;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() < 2) {
        usage();
        return 2;
    }
    const std::string& command = arguments[0];
    const std::vector<std::string> rest(arguments.begin() + 2, arguments.end());
    if (command == "--make-key" && rest.empty()) return makeKey(arguments[1]);
    if (command == "--sign") {
        const auto given = options(rest, {"--key", "--identifier", "--team"});
        if (given) return sign(arguments[1], *given);
    }
    if (command == "--verify") {
        const auto given = options(rest, {"--public-key"});
        if (given) return verify(arguments[1], *given);
    }
    if ((command == "--pack" || command == "--unpack") && rest.size() == 1) {
        const auto failed = command == "--pack" ? packZip(arguments[1], rest[0]) : unpackZip(arguments[1], rest[0]);
        if (failed) {
            std::fprintf(stderr, "%s\n", failed->c_str());
            return 1;
        }
        std::printf("%s\n", rest[0].c_str());
        return 0;
    }
    usage();
    return 2;
}
