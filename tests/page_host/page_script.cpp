// A long script for measuring the page: the benchmarks' made-up play, written
// with as many pages as asked, so scrolling and page turns see a real document.
//
//   tallowmark_page_script PAGES OUT.pdf

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_script.hpp"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PAGES OUT.pdf\n", argv[0]);
        return 2;
    }
    char* end = nullptr;
    const long pages = std::strtol(argv[1], &end, 10);
    if (*end != '\0' || pages < 1 || pages > 5000) {
        std::fprintf(stderr, "bad page count %s (1 to 5000)\n", argv[1]);
        return 2;
    }
    tallowmark::bench::writeScriptPdf(argv[2], static_cast<int>(pages), "Liberation Serif 12", 40, 72, 72, 17,
                                      [](int page, int line) {
                                          return (line % 5 == 0 ? "PROSPERO.  " : "    ") + std::string("Line ") +
                                                 std::to_string(line) + " of page " + std::to_string(page + 1) +
                                                 ": the cloud-capp'd towers, the gorgeous palaces";
                                      });
    std::FILE* check = std::fopen(argv[2], "rb");
    if (!check) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    std::fclose(check);
    return 0;
}
