// The benchmarks' made-up play with as many pages as asked, for measuring the page.
//
//   tallowmark_page_script PAGES OUT.pdf

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_script.hpp"

int main(int argc, char** argv) {
    char* end = nullptr;
    const long pages = argc == 3 ? std::strtol(argv[1], &end, 10) : 0;
    if (argc != 3 || *end != '\0' || pages < 1 || pages > 5000) {
        std::fprintf(stderr, "usage: %s PAGES OUT.pdf (1 to 5000 pages)\n", argv[0]);
        return 2;
    }
    tallowmark::bench::writeScriptPdf(argv[2], static_cast<int>(pages), "Liberation Serif 12", 40, 72, 72, 17,
                                      [](int page, int line) {
                                          return (line % 5 == 0 ? "PROSPERO.  " : "    ") + std::string("Line ") +
                                                 std::to_string(line) + " of page " + std::to_string(page + 1) +
                                                 ": the cloud-capp'd towers, the gorgeous palaces";
                                      });
    const bool written = std::filesystem::exists(argv[2]);
    if (!written) std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return written ? 0 : 1;
}
