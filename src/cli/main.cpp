// Program entry. Command-line modes are examined in a fixed order; without one
// the interactive application starts (not built yet: the usage is printed).
#include <cstdio>
#include <cstring>

#include "cli/command_line.hpp"

namespace {

void printUsage(std::FILE* out) {
    std::fputs(
        "TALLOWMARK - kasikirjoitus ja cuet esityksen ajoon\n"
        "kaytto: tallowmark [--help | tila pdf ...]\n"
        "  --help                                   tama ohje\n"
        "  --pdf-test pdf [leveys]                  sivujen renderoinnin mittaus\n"
        "  --page-lines pdf [sivu]                  sivun tekstirivit\n"
        "  --maxtext-data pdf [--maxtext-crop x,y,l,k]  kuvasuhteet ja kaikki rivit JSON-muodossa\n"
        "  --page-sizes pdf                         sivujen koot JSON-muodossa\n"
        "  --lock-latency-test pdf                  rivikyselyjen odotus renderoinnin aikana\n"
        "  --snap-test pdf                          valinnan kohdistuksen tilastot\n"
        "  --text-box pdf                           tekstialueet ja rajaus\n"
        "  --render-page pdf sivu out.png [leveys]  yhden sivun renderointi PNG-tiedostoksi\n"
        "  --export-marked pdf out.pdf ladonta.json merkitty kasikirjoitus PDF:ksi\n"
        "  --make-demo [kansio]                     esimerkkikasikirjoitus ja sen cuet kansioon\n"
        "                                           (oletus: TALLOWMARK Demo tyopoydalla)\n"
        "Sovellusikkuna tulee myohemmin. Valmiina: merkintatiedosto varmuuskopioineen,\n"
        "cue-moottori ja ajokohta, muokkaus ja kumoaminen, asetukset, OSC/MIDI/MSC-ohjaus,\n"
        "PDF:n sivut, rivit, valinta, haku ja rajaus, merkityn kasikirjoituksen vienti ja demo.\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto status = tallowmark::runCommandLineMode({argv + 1, argv + argc}, stdout)) return *status;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            printUsage(stdout);
            return 0;
        }
    }
    printUsage(stderr);
    return 2;
}
