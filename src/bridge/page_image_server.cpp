#include "bridge/page_image_server.hpp"

#include <glib.h>

#include <algorithm>
#include <charconv>

#include "core/main_queue.hpp"
#include "core/work_pool.hpp"
#include "document/document_store.hpp"

namespace tallowmark {

namespace {

// The same bounds the "renderPage" call applies, refused here rather than
// clamped: an address is made by the page, and a wrong one is a fault to see.
constexpr int minWidth = 64;
constexpr int maxWidth = 8192;

std::optional<int> decimal(std::string_view text) {
    // Digits only (no sign); nine of them always fit an int.
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), digit)) return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::variant<PageImageAddress, std::string> parsePageImagePath(std::string_view path) {
    path = path.substr(0, path.find_first_of("?#"));
    if (!path.starts_with('/')) return std::string("virheellinen osoite");
    path.remove_prefix(1);
    const std::size_t slash = path.find('/');
    if (slash == std::string_view::npos) return std::string("virheellinen osoite");
    const std::optional<int> index = decimal(path.substr(0, slash));
    if (!index) return std::string("virheellinen sivu");
    const std::optional<int> width = decimal(path.substr(slash + 1));
    if (!width || *width < minWidth || *width > maxWidth) return std::string("virheellinen leveys");
    return PageImageAddress{*index, *width};
}

std::variant<PageImageAddress, std::string> parsePageImageURL(std::string_view url) {
    const std::size_t colon = url.find("://");
    if (colon != pageImageScheme.size() ||
        g_ascii_strncasecmp(url.data(), pageImageScheme.data(), pageImageScheme.size()) != 0)
        return std::string("vieras osoite");
    std::string_view rest = url.substr(colon + 3);
    const std::size_t pathStart = rest.find_first_of("/?#");
    // Exactly the one host: no user part, no port, nothing that only starts like it.
    if (rest.substr(0, pathStart) != pageImageHost) return std::string("vieras osoite");
    if (pathStart == std::string_view::npos) return std::string("virheellinen osoite");
    return parsePageImagePath(rest.substr(pathStart));
}

void servePageImage(std::weak_ptr<DocumentStore> store, std::variant<PageImageAddress, std::string> address,
                    std::function<void(PageImageAnswer)> done) {
    if (const std::string* refused = std::get_if<std::string>(&address)) {
        postToMain([done = std::move(done), error = *refused] { done({nullptr, error}); });
        return;
    }
    const PageImageAddress page = std::get<PageImageAddress>(address);
    runInBackground([store = std::move(store), page, done = std::move(done)]() mutable {
        PageImageAnswer answer;
        const std::shared_ptr<DocumentStore> strong = store.lock();
        const std::optional<int> pages = strong ? strong->pageCount() : std::nullopt;
        if (!pages) answer.error = "ei avointa kasikirjoitusta";
        else if (page.index >= *pages) answer.error = "sivua ei ole";
        else if (!(answer.image = strong->pageImage(page.index, page.width, ImageEncoding::screen)))
            answer.error = "kuvaa ei voitu tehda";
        postToMain([done = std::move(done), answer = std::move(answer)]() mutable { done(std::move(answer)); });
    });
}

}  // namespace tallowmark
