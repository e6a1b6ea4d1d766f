// Program entry. Command-line modes are examined in a fixed order; without one
// the interactive application starts (not built yet: the usage is printed).
#include <cstdio>
#include <cstring>

namespace {

void printUsage(std::FILE* out) {
    std::fputs(
        "TALLOWMARK - kasikirjoitus ja cuet esityksen ajoon\n"
        "kaytto: tallowmark [--help]\n"
        "  --help   tama ohje\n"
        "Sovellusikkuna ja komentorivitilat tulevat myohemmin; nyt rakennettu ydin:\n"
        "  merkintatiedosto (.tallowmark) varmuuskopioineen, cue-moottori (GO, BACK, RESET,\n"
        "  valmius ja laukaisu numerolla), ajokohta (.tallowmark-run), muokkaus ja kumoaminen,\n"
        "  asetukset (~/.config/TALLOWMARK/settings.json).\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            printUsage(stdout);
            return 0;
        }
    }
    printUsage(stderr);
    return 2;
}
