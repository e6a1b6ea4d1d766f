// Release tool for the application folder: makes the release key pair, signs
// and checks a built TALLOWMARK.app, and packs or unpacks its ZIP package with
// the same code the program uses to install an update.
//
//   tallowmark-package-sign --make-key FILE
//   tallowmark-package-sign --package BUNDLE ZIP --key FILE [--identifier ID] [--team TEAM]
//   tallowmark-package-sign --sign BUNDLE --key FILE [--identifier ID] [--team TEAM]
//   tallowmark-package-sign --verify BUNDLE [--public-key HEX-OR-FILE]
//   tallowmark-package-sign --pack FOLDER ZIP
//   tallowmark-package-sign --unpack ZIP FOLDER
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/bundle_signature.hpp"
#include "update/package_archive.hpp"
#include "update/release_package.hpp"

namespace {

using namespace tallowmark::update;
namespace fs = std::filesystem;

// The secret key file begins with this, so it is never taken for the public
// one (the build refuses anything but 64 bare hex digits).
constexpr std::string_view secretPrefix = "tallowmark-release-secret-key ";
// Key files are a line; anything longer is not one.
constexpr std::size_t maxKeyFileBytes = 256;

void usage() {
    std::fputs(
        "usage: tallowmark-package-sign --make-key FILE\n"
        "       tallowmark-package-sign --package BUNDLE ZIP --key FILE [--identifier ID] [--team TEAM]\n"
        "       tallowmark-package-sign --sign BUNDLE --key FILE [--identifier ID] [--team TEAM]\n"
        "       tallowmark-package-sign --verify BUNDLE [--public-key HEX-OR-FILE]\n"
        "       tallowmark-package-sign --pack FOLDER ZIP\n"
        "       tallowmark-package-sign --unpack ZIP FOLDER\n",
        stderr);
}

// Writes a new file (never over an old one) with `mode`.
bool writeNewFile(const fs::path& file, const std::string& text, mode_t mode) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        std::fprintf(stderr, "cannot create %s: %s\n", file.c_str(), std::strerror(errno));
        return false;
    }
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0 || ::close(fd) != 0 || !written) {
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
        return false;
    }
    return true;
}

// FILE gets the secret half, FILE.pub the public half the build is configured with.
int makeKey(const fs::path& file) {
    const fs::path publicFile = file.string() + ".pub";
    std::optional<KeyPair> pair = makeKeyPair();
    if (!pair) {
        std::fputs("the signature library cannot start\n", stderr);
        return 1;
    }
    std::string secret = std::string(secretPrefix) + keyHex(pair->seed) + "\n";
    sodium_memzero(pair->seed.data(), pair->seed.size());
    const bool written = writeNewFile(file, secret, 0600);
    sodium_memzero(secret.data(), secret.size());
    if (!written) return 1;
    if (!writeNewFile(publicFile, keyHex(pair->publicKey) + "\n", 0644)) {
        ::unlink(file.c_str());
        return 1;
    }
    std::printf("secret key: %s (move it off this machine)\npublic key: %s\nconfigure with: "
                "-DTALLOWMARK_UPDATE_PUBLIC_KEY=%s\n",
                file.c_str(), publicFile.c_str(), fs::absolute(publicFile).c_str());
    return 0;
}

// A small text file, or none with the reason printed.
std::optional<std::string> readKeyFile(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "cannot read the key %s: %s\n", file.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    std::string text(maxKeyFileBytes + 1, '\0');
    const ssize_t got = ::read(fd, text.data(), text.size());
    ::close(fd);
    if (got < 0 || static_cast<std::size_t>(got) > maxKeyFileBytes) {
        std::fprintf(stderr, "the key %s is not a key file\n", file.c_str());
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(got));
    return text;
}

std::optional<SecretSeed> readSecretKey(const fs::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        std::fprintf(stderr, "cannot read the key %s: %s\n", file.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    if (info.st_mode & 077) {
        std::fprintf(stderr, "the key %s is readable by others; chmod 600 it first\n", file.c_str());
        return std::nullopt;
    }
    std::optional<std::string> text = readKeyFile(file);
    if (!text) return std::nullopt;
    std::optional<SecretSeed> seed;
    if (std::string_view(*text).starts_with(secretPrefix)) seed = keyFromHex(std::string_view(*text).substr(secretPrefix.size()));
    sodium_memzero(text->data(), text->size());
    if (!seed) std::fprintf(stderr, "the key %s is not a secret key made by --make-key\n", file.c_str());
    return seed;
}

// "--name value" pairs after the command's own operands.
std::optional<std::map<std::string, std::string>> options(const std::vector<std::string>& rest,
                                                          const std::vector<std::string>& known) {
    std::map<std::string, std::string> found;
    for (std::size_t i = 0; i < rest.size(); i += 2) {
        if (std::find(known.begin(), known.end(), rest[i]) == known.end() || i + 1 >= rest.size()) return std::nullopt;
        found[rest[i]] = rest[i + 1];
    }
    return found;
}

std::optional<PackageSigning> signingFrom(const std::map<std::string, std::string>& given) {
    if (!given.count("--key")) {
        usage();
        return std::nullopt;
    }
    const std::optional<SecretSeed> seed = readSecretKey(given.at("--key"));
    if (!seed) return std::nullopt;
    PackageSigning signing;
    signing.seed = *seed;
    if (given.count("--identifier")) signing.identifier = given.at("--identifier");
    if (given.count("--team")) signing.team = given.at("--team");
    return signing;
}

// A package only an installed copy of this very build would take: the key
// must be the pair of the public key this build was configured with.
int package(const fs::path& bundle, const fs::path& zip, const std::map<std::string, std::string>& given) {
    std::optional<PackageSigning> signing = signingFrom(given);
    if (!signing) return 1;
    const auto& built = buildPublicKey();
    if (!built) {
        std::fputs("this build has no update public key: configure it with -DTALLOWMARK_UPDATE_PUBLIC_KEY=KEYFILE.pub\n",
                   stderr);
        return 1;
    }
    if (publicKeyOf(signing->seed) != *built) {
        std::fprintf(stderr, "the key given is not the pair of this build's public key %s\n", keyHex(*built).c_str());
        return 1;
    }
    const auto failed = makeReleasePackage(bundle, *signing, zip);
    sodium_memzero(signing->seed.data(), signing->seed.size());
    if (failed) {
        std::fprintf(stderr, "%s\n", failed->c_str());
        return 1;
    }
    std::printf("%s\n", zip.c_str());
    return 0;
}

int sign(const fs::path& bundle, const std::map<std::string, std::string>& given) {
    std::optional<PackageSigning> signing = signingFrom(given);
    if (!signing) return 1;
    const auto signedFor = signRelease(bundle, *signing);
    const PublicKey key = publicKeyOf(signing->seed);
    sodium_memzero(signing->seed.data(), signing->seed.size());
    if (const auto* failed = std::get_if<std::string>(&signedFor)) {
        std::fprintf(stderr, "%s\n", failed->c_str());
        return 1;
    }
    const auto& names = std::get<SignedManifest>(signedFor);
    std::printf("signed %s for %s, team %s, key %s\n", bundle.c_str(), names.identifier.c_str(), names.team.c_str(),
                keyHex(key).c_str());
    return 0;
}

int verify(const fs::path& bundle, const std::map<std::string, std::string>& given) {
    std::optional<PublicKey> key = buildPublicKey();
    if (given.count("--public-key")) {
        const std::string& value = given.at("--public-key");
        key = keyFromHex(value);
        if (!key) {
            const auto text = readKeyFile(value);
            if (!text) return 2;
            key = keyFromHex(*text);
        }
        if (!key) {
            std::fputs("the public key is neither 64 hex digits nor a file holding them\n", stderr);
            return 2;
        }
    } else if (!key) {
        std::fputs("this build has no update public key: give --public-key\n", stderr);
        return 2;
    }
    const auto result = verifyBundle(bundle, *key);
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
    if (command == "--package" && !rest.empty()) {
        const auto given = options({rest.begin() + 1, rest.end()}, {"--key", "--identifier", "--team"});
        if (given) return package(arguments[1], rest[0], *given);
    }
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
