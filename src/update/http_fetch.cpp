#include "update/http_fetch.hpp"

#include <curl/curl.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>

namespace tallowmark::update {

namespace {

namespace fs = std::filesystem;

std::string lowerASCII(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The request goes where the HTTP library reads the URL to point, so the host
// rule is checked once more with its reader: an https URL on the allowed host.
std::optional<std::string> refuseURL(const std::string& url, const std::string& allowedHost) {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return "the address is not a valid URL";
    }
    char* scheme = nullptr;
    char* host = nullptr;
    const bool read = curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                      curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK;
    const bool allowed = read && lowerASCII(scheme) == "https" && lowerASCII(host) == allowedHost;
    curl_free(scheme);
    curl_free(host);
    if (!allowed) return "the address is not on " + allowedHost + " over HTTPS";
    return std::nullopt;
}

struct Sink {
    std::uint64_t maxBytes = 0;
    std::uint64_t received = 0;
    bool overLimit = false;
    std::string* memory = nullptr;
    std::FILE* file = nullptr;
    bool writeFailed = false;
};

size_t writeBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t bytes = size * count;
    if (bytes > sink->maxBytes - sink->received) {
        sink->overLimit = true;
        return 0;  // a short write ends the transfer
    }
    sink->received += bytes;
    if (sink->memory) {
        sink->memory->append(data, bytes);
    } else if (std::fwrite(data, 1, bytes, sink->file) != bytes) {
        sink->writeFailed = true;
        return 0;
    }
    return bytes;
}

struct SList {
    curl_slist* list = nullptr;
    ~SList() { curl_slist_free_all(list); }
    void add(const std::string& line) { list = curl_slist_append(list, line.c_str()); }
};

std::optional<FetchError> perform(const std::string& url, const FetchConfig& config, Sink& sink, long timeoutSeconds) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (auto refusal = refuseURL(url, config.allowedHost)) return FetchError{*refusal};

    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) return FetchError{"the HTTP client could not start"};
    CURL* h = curl.get();
    char errorText[CURL_ERROR_SIZE] = {0};
    SList headers;
    // Caches between here and the vendor must not hand out an old feed.
    headers.add("Cache-Control: no-cache");
    headers.add("Pragma: no-cache");
    SList connectTo;
    if (!config.connectTo.empty()) connectTo.add(config.connectTo);

    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https");
#else
    curl_easy_setopt(h, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTPS));
#endif
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.list);
    if (connectTo.list) curl_easy_setopt(h, CURLOPT_CONNECT_TO, connectTo.list);
    if (!config.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, config.caFile.c_str());
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 15L);
    if (timeoutSeconds > 0) curl_easy_setopt(h, CURLOPT_TIMEOUT, timeoutSeconds);
    // A package may take long on a slow line, but not stall.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(sink.maxBytes));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);

    const CURLcode result = curl_easy_perform(h);
    if (sink.overLimit || result == CURLE_FILESIZE_EXCEEDED) {
        return FetchError{"the download is larger than " + std::to_string(sink.maxBytes) + " bytes"};
    }
    if (sink.writeFailed) return FetchError{"the download could not be written to disk"};
    if (result != CURLE_OK) return FetchError{errorText[0] ? errorText : curl_easy_strerror(result)};
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) return FetchError{"the server answered HTTP " + std::to_string(status)};
    return std::nullopt;
}

}  // namespace

std::variant<std::string, FetchError> fetchToMemory(const std::string& url, const FetchConfig& config,
                                                    long timeoutSeconds, std::uint64_t maxBytes) {
    std::string body;
    Sink sink;
    sink.maxBytes = maxBytes;
    sink.memory = &body;
    if (auto error = perform(url, config, sink, timeoutSeconds)) return *error;
    return body;
}

std::variant<std::uint64_t, FetchError> fetchToFile(const std::string& url, const fs::path& file,
                                                    const FetchConfig& config, std::uint64_t maxBytes) {
    std::unique_ptr<std::FILE, decltype(&std::fclose)> out(std::fopen(file.c_str(), "wb"), std::fclose);
    if (!out) return FetchError{"cannot create " + file.string()};
    Sink sink;
    sink.maxBytes = maxBytes;
    sink.file = out.get();
    if (auto error = perform(url, config, sink, 0)) return *error;
    if (std::fflush(out.get()) != 0) return FetchError{"the download could not be written to disk"};
    return sink.received;
}

}  // namespace tallowmark::update
