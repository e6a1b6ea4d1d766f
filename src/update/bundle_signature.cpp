#include "update/bundle_signature.hpp"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/atomic_file.hpp"

namespace tallowmark::update {

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

constexpr const char* signatureFolder = "Contents/_CodeSignature";
constexpr const char* manifestName = "Contents/_CodeSignature/CodeResources.json";
constexpr const char* signatureName = "Contents/_CodeSignature/signature";
// A manifest of a few thousand files is well under a megabyte; a larger one is
// not ours and is not parsed.
constexpr std::size_t maxManifestBytes = 8u << 20;
constexpr std::size_t hashBlock = 64 * 1024;

// One file of the folder as the manifest records it: its hash, or a link's target.
struct Item {
    bool link = false;
    std::string value;  // lower-case hex SHA-256, or the link's target
    bool operator==(const Item&) const = default;
};

using Listing = std::map<std::string, Item>;

bool ensureSodium() { return sodium_init() >= 0; }

std::string hex(const unsigned char* bytes, std::size_t size) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xf];
    }
    return text;
}

bool isHexDigest(const std::string& text) {
    return text.size() == crypto_hash_sha256_BYTES * 2 &&
           text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

// SHA-256 of a regular file, read without following a link: the hex digest,
// or the reason it could not be read.
std::optional<std::string> hashFile(const fs::path& path, std::string& reason) {
    FileDescriptor in(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    std::vector<unsigned char> buffer(hashBlock);
    while (in.valid()) {
        const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        if (got == 0) {
            unsigned char digest[crypto_hash_sha256_BYTES];
            crypto_hash_sha256_final(&state, digest);
            return hex(digest, sizeof digest);
        }
        crypto_hash_sha256_update(&state, buffer.data(), static_cast<unsigned long long>(got));
    }
    reason = "cannot read " + path.string() + ": " + std::strerror(errno);
    return std::nullopt;
}

// A relative path that stays inside the folder by name: no "..", ".", empty or
// leading "/" segments.
bool isPlainRelative(std::string_view path) {
    if (path.empty() || path.front() == '/' || path.back() == '/') return false;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view segment = path.substr(start, end - start);
        if (segment.empty() || segment == "." || segment == "..") return false;
        start = end + 1;
    }
    return true;
}

// Whether a link at `path` with `target` stays inside the folder by name.
bool linkStaysInside(std::string_view path, std::string_view target) {
    if (target.empty() || target.front() == '/') return false;
    long depth = static_cast<long>(std::count(path.begin(), path.end(), '/'));
    std::size_t start = 0;
    while (start <= target.size()) {
        const std::size_t end = std::min(target.find('/', start), target.size());
        const std::string_view segment = target.substr(start, end - start);
        if (segment == "..") {
            if (--depth < 0) return false;
        } else if (!segment.empty() && segment != ".") {
            ++depth;
        }
        start = end + 1;
    }
    return true;
}

bool isSignatureFile(const std::string& relative) { return relative == manifestName || relative == signatureName; }

// Every file and link of the folder, walked without following links, with the
// signature's own two files left out.
std::variant<Listing, std::string> listFolder(const fs::path& bundle) {
    Listing listing;
    std::error_code error;
    fs::recursive_directory_iterator it(bundle, fs::directory_options::none, error);
    if (error) return "cannot list " + bundle.string() + ": " + error.message();
    for (const fs::recursive_directory_iterator end; it != end; it.increment(error)) {
        if (error) return "cannot list " + bundle.string() + ": " + error.message();
        const fs::path& path = it->path();
        const std::string relative = path.lexically_relative(bundle).generic_string();
        const fs::file_status status = it->symlink_status(error);
        if (error) return "cannot read " + relative + ": " + error.message();
        if (fs::is_directory(status)) continue;
        if (isSignatureFile(relative)) {
            if (!fs::is_regular_file(status)) return relative + " is not a file";
            continue;
        }
        if (fs::is_symlink(status)) {
            const std::string target = fs::read_symlink(path, error).string();
            if (error) return "cannot read the link " + relative + ": " + error.message();
            if (!linkStaysInside(relative, target)) return "the link " + relative + " points outside the bundle";
            listing[relative] = Item{true, target};
        } else if (fs::is_regular_file(status)) {
            std::string reason;
            const auto digest = hashFile(path, reason);
            if (!digest) return reason;
            listing[relative] = Item{false, *digest};
        } else {
            return relative + " is neither a file, a folder nor a link";
        }
    }
    if (error) return "cannot list " + bundle.string() + ": " + error.message();
    return listing;
}

// The whole of a small regular file, or none when it is missing, a link, or
// over `limit` bytes.
std::optional<std::string> readSmallFile(const fs::path& path, std::size_t limit) {
    FileDescriptor in(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!in.valid()) return std::nullopt;
    struct stat info {};
    if (::fstat(in.get(), &info) != 0 || !S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) > limit)
        return std::nullopt;
    std::string bytes;
    char buffer[hashBlock];
    while (true) {
        const ssize_t got = ::read(in.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) return bytes;
        bytes.append(buffer, static_cast<std::size_t>(got));
        if (bytes.size() > limit) return std::nullopt;  // grew while being read
    }
}

struct ParsedManifest {
    SignedManifest names;
    Listing files;
};

std::variant<ParsedManifest, std::string> parseManifest(const std::string& bytes) {
    const Json json = Json::parse(bytes, nullptr, /*allow_exceptions=*/false);
    if (!json.is_object()) return std::string("the signature manifest is not a JSON object");
    const auto identifier = json.find("identifier");
    const auto team = json.find("team");
    const auto files = json.find("files");
    if (identifier == json.end() || !identifier->is_string() || team == json.end() || !team->is_string() ||
        files == json.end() || !files->is_object()) {
        return std::string("the signature manifest lacks its identifier, team or files");
    }
    ParsedManifest parsed{{identifier->get<std::string>(), team->get<std::string>()}, {}};
    for (const auto& [path, value] : files->items()) {
        if (!isPlainRelative(path) || isSignatureFile(path) || !value.is_object() || value.size() != 1)
            return "the signature manifest has a bad entry: " + path;
        if (const auto digest = value.find("sha256"); digest != value.end() && digest->is_string() &&
                                                       isHexDigest(digest->get<std::string>())) {
            parsed.files[path] = Item{false, digest->get<std::string>()};
        } else if (const auto target = value.find("symlink"); target != value.end() && target->is_string() &&
                                                              linkStaysInside(path, target->get<std::string>())) {
            parsed.files[path] = Item{true, target->get<std::string>()};
        } else {
            return "the signature manifest has a bad entry: " + path;
        }
    }
    return parsed;
}

std::optional<std::string> writeFile(const fs::path& path, std::string_view bytes) {
    std::string error;
    if (writeFileAtomically(path, bytes, &error)) return std::nullopt;
    return "cannot write " + path.string() + ": " + error;
}

}  // namespace

std::variant<SignedManifest, std::string> verifyBundle(const fs::path& bundle, const PublicKey& key) {
    if (!ensureSodium()) return std::string("the signature library cannot start");
    const std::optional<std::string> manifest = readSmallFile(bundle / manifestName, maxManifestBytes);
    if (!manifest) return std::string("the bundle has no readable signature manifest");
    const std::optional<std::string> signature = readSmallFile(bundle / signatureName, crypto_sign_BYTES);
    if (!signature || signature->size() != crypto_sign_BYTES) return std::string("the bundle has no readable signature");
    if (crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature->data()),
                                    reinterpret_cast<const unsigned char*>(manifest->data()), manifest->size(),
                                    key.data()) != 0) {
        return std::string("the signature does not match the vendor's key");
    }
    auto parsed = parseManifest(*manifest);
    if (parsed.index() == 1) return std::get<1>(parsed);
    const ParsedManifest& signedManifest = std::get<0>(parsed);

    auto present = listFolder(bundle);
    if (present.index() == 1) return std::get<1>(present);
    const Listing& found = std::get<0>(present);
    for (const auto& [path, item] : signedManifest.files) {
        const auto at = found.find(path);
        if (at == found.end()) return "a signed file is missing: " + path;
        if (at->second.link != item.link) return "a signed file changed its kind: " + path;
        if (at->second.value != item.value) return "a signed file was changed: " + path;
    }
    for (const auto& [path, item] : found) {
        if (!signedManifest.files.count(path)) return "the bundle holds a file that is not signed: " + path;
    }
    return signedManifest.names;
}

std::optional<std::string> signBundle(const fs::path& bundle, const SecretSeed& seed, const std::string& identifier,
                                      const std::string& team) {
    if (!ensureSodium()) return std::string("the signature library cannot start");
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(bundle, error))) return "not a folder: " + bundle.string();
    // Earlier signature files are not part of what is signed.
    fs::remove(bundle / manifestName, error);
    fs::remove(bundle / signatureName, error);
    auto present = listFolder(bundle);
    if (present.index() == 1) return std::get<1>(present);

    Json files = Json::object();
    for (const auto& [path, item] : std::get<0>(present)) {
        files[path] = item.link ? Json{{"symlink", item.value}} : Json{{"sha256", item.value}};
    }
    const Json manifest{{"identifier", identifier}, {"team", team}, {"files", std::move(files)}};
    const std::string bytes = manifest.dump(2) + "\n";
    if (bytes.size() > maxManifestBytes) return std::string("the bundle has too many files to sign");

    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_seed_keypair(publicKey, secretKey, seed.data());
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                         secretKey);
    sodium_memzero(secretKey, sizeof secretKey);

    fs::create_directories(bundle / signatureFolder, error);
    if (error) return "cannot create " + (bundle / signatureFolder).string() + ": " + error.message();
    if (auto failed = writeFile(bundle / manifestName, bytes)) return failed;
    return writeFile(bundle / signatureName, std::string(reinterpret_cast<const char*>(signature), sizeof signature));
}

std::optional<KeyPair> makeKeyPair() {
    if (!ensureSodium()) return std::nullopt;
    KeyPair pair{};
    randombytes_buf(pair.seed.data(), pair.seed.size());
    pair.publicKey = publicKeyOf(pair.seed);
    return pair;
}

std::string keyHex(const std::array<unsigned char, 32>& key) { return hex(key.data(), key.size()); }

std::optional<std::array<unsigned char, 32>> keyFromHex(std::string_view text) {
    if (text.ends_with('\n')) text.remove_suffix(1);
    if (text.ends_with('\r')) text.remove_suffix(1);
    std::array<unsigned char, 32> key{};
    if (text.size() != 2 * key.size()) return std::nullopt;
    for (std::size_t i = 0; i < key.size(); ++i) {
        int byte = 0;
        for (const char c : text.substr(2 * i, 2)) {
            const int digit = c >= '0' && c <= '9' ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) return std::nullopt;
            byte = byte * 16 + digit;
        }
        key[i] = static_cast<unsigned char>(byte);
    }
    return key;
}

PublicKey publicKeyOf(const SecretSeed& seed) {
    PublicKey key{};
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
    if (ensureSodium()) crypto_sign_seed_keypair(key.data(), secretKey, seed.data());
    sodium_memzero(secretKey, sizeof secretKey);
    return key;
}

}  // namespace tallowmark::update
