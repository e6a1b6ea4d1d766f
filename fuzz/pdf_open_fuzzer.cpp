// Opens arbitrary bytes as a script PDF and asks what the page would ask first:
// the document information, the lines of the first page and its image, then a
// selection and a search.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "document/document_store.hpp"

namespace {

// The store opens files by path, as the application does. One scratch file per
// process, unlinked at once and reached through its descriptor, so nothing is
// left behind however the fuzzer exits.
struct Scratch {
    int fd = -1;
    std::filesystem::path path;

    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tallowmark-pdf-fuzz.XXXXXX").string();
        fd = mkstemp(pattern.data());
        if (fd < 0) std::abort();
        unlink(pattern.c_str());
        path = "/proc/self/fd/" + std::to_string(fd);
    }

    void write(const std::uint8_t* data, std::size_t size) const {
        if (ftruncate(fd, 0) != 0) std::abort();
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) std::abort();
            done += static_cast<std::size_t>(n);
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Scratch scratch;
    scratch.write(data, size);

    tallowmark::DocumentStore store;
    const auto info = store.open(scratch.path);
    if (!info) return 0;
    if (info->aspects.size() != static_cast<std::size_t>(info->pageCount)) std::abort();
    (void)store.pageLines(0);
    (void)store.renderPage(0, 200);
    // A click, a drag over several lines and a search: the glyph boxes of a
    // hostile page walked every way the page can ask.
    (void)store.textSelection(0, {0.3, 0.2}, {0.3, 0.2}, true);
    (void)store.textSelection(0, {0.7, 0.6}, {0.1, 0.1}, true);
    (void)store.search("e a", 5);
    return 0;
}
