// Program entry. Command-line modes are examined first, in a fixed order, before
// anything of the window toolkit starts, so they run without a display; then
// "--help"; otherwise the application window opens.
#include <cstdio>
#include <cstring>

#include "cli/command_line.hpp"

#ifdef TALLOWMARK_HAS_APP
#include "app/application.hpp"
#endif

namespace {

void printUsage(std::FILE* out) {
    std::fputs(
        "TALLOWMARK - kasikirjoitus ja cuet esityksen ajoon\n"
        "kaytto: tallowmark [--open pdf | --help | tila pdf ...]\n"
        "  (ei valitsimia)                          avaa sovellusikkunan\n"
        "  --open pdf                               avaa sovellusikkunan ja siihen kasikirjoituksen\n"
        "  --help                                   tama ohje\n"
        "  --version                                ohjelman versio (kaannospaiva-tunniste)\n"
        "  --pdf-test pdf [leveys] [kierrokset]     sivujen renderoinnin mittaus (kierroksilla myos suoritinaika)\n"
        "  --page-lines pdf [sivu]                  sivun tekstirivit\n"
        "  --maxtext-data pdf [--maxtext-crop x,y,l,k]  kuvasuhteet ja kaikki rivit JSON-muodossa\n"
        "  --page-sizes pdf                         sivujen koot JSON-muodossa\n"
        "  --lock-latency-test pdf                  rivikyselyjen odotus renderoinnin aikana\n"
        "  --snap-test pdf                          valinnan kohdistuksen tilastot\n"
        "  --text-box pdf                           tekstialueet ja rajaus\n"
        "  --search pdf teksti                      tekstin osumat sivuittain\n"
        "  --render-page pdf sivu out.png [leveys]  yhden sivun renderointi PNG-tiedostoksi\n"
        "  --export-marked pdf out.pdf ladonta.json merkitty kasikirjoitus PDF:ksi\n"
        "  --carry-marks vanha.pdf uusi.pdf [--replace]  merkinnat uuteen versioon sanojensa mukaan\n"
        "  --make-demo [kansio]                     esimerkkikasikirjoitus ja sen cuet kansioon\n"
        "                                           (oletus: TALLOWMARK Demo tyopoydalla)\n"
        "  --password salasana                      lukitun PDF:n salasana tiloille, jotka avaavat PDF:n\n"
        "  --no-ocr                                 skannattuja sivuja ei lueta tekstintunnistuksella\n"
        "Rivit, haku, rajaus ja koot lukevat skannatut sivut kuten ohjelma (valimuistista, jos ne on jo luettu).\n"
        "Jos sovellus on jo kaynnissa, --open antaa kasikirjoituksen sille ja paattyy.\n"
        "Tarkistukset paikan paalla (ensimmainen annetuista ajetaan; tila 0 vain jos kaikki onnistuivat):\n"
        "  --osc-test                               OSC-palvelin\n"
        "  --msc-test                               MIDI-ohjaus (MSC)\n"
        "  --resume-test                            ajotiedosto ja jatkaminen\n"
        "  --titlebar-probe                         otsikkopalkin piilotuksen tilakone\n"
        "  --export-test                            merkityn kasikirjoituksen vienti esimerkilla\n"
        "  --update-probe                           paivityssaannot ilman verkkoa\n",
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
#ifdef TALLOWMARK_HAS_APP
    return tallowmark::runApplication(argc, argv);
#else
    // Built without the shell (no GTK): only the command-line modes exist.
    printUsage(stderr);
    return 2;
#endif
}
