#include <glib.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "cli/self_checks.hpp"
#include "settings/settings_store.hpp"
#include "support/config_home.hpp"
#include "support/mode_run.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::Printed;

std::pair<int, std::string> runCheck(int (*check)(std::FILE*)) {
    Printed out;
    const int status = check(out.file());
    return {status, out.text()};
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The settings file the checks read, for one test, taken away after it. The
// path is the store's own: a test that moves XDG_CONFIG_HOME later does not move
// what GLib read first, which the config-home environment points at a scratch folder.
class SettingsFile {
public:
    explicit SettingsFile(const std::string& json) : path_(SettingsStore::defaultFileURL()), text_(json) {
        if (path_.string().find("tallowmark-test.") == std::string::npos) throw std::runtime_error("not a test folder");
        std::filesystem::create_directories(path_.parent_path());
        testing::writeText(path_, json);
    }
    ~SettingsFile() { std::filesystem::remove(path_); }
    // The checks read the file and never write it.
    bool unchanged() const { return testing::readText(path_) == text_; }

private:
    std::filesystem::path path_;
    std::string text_;
};

// A UDP port held on every address, as a running copy of the program holds its own.
class HeldPort {
public:
    HeldPort() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        socklen_t length = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~HeldPort() { close(fd_); }
    int port() const { return port_; }

private:
    int fd_;
    int port_ = 0;
};

// Every check runs the real path on this machine and passes line by line.
TEST(SelfCheckControlTest, EachCheckPassesWithOkLinesAndNoFailure) {
    // Without a sequencer MSC goes through its decoder alone.
    const std::string midi = std::filesystem::exists("/dev/snd/seq") ? "ALSA" : "purku";
    const std::string port = std::to_string(HeldPort().port());  // free once the holder is gone
    const SettingsFile settings(R"({"oscPort": )" + port + "}");
    const std::tuple<const char*, int (*)(std::FILE*), std::vector<std::string>> rows[] = {
        {"osc", oscSelfCheck,
         {"OK - OSC-palvelin kuuntelee asetusten porttia " + port, "OK - 127.0.0.1 (lo): /go - isku 1 laukesi",
          "OK - 127.0.0.1 (lo): /reset - valmius alkuun",
          "poyta lahettaa osoitteeseen 127.0.0.1 porttiin " + port + " (vain tama kone)"}},
        {"msc", mscSelfCheck,
         {"OK - " + midi + ": MSC GO 4 - isku 4",
          "OK - " + midi + ": katkennut SysEx ja MSC GO 8 - vain isku 8 laukesi",
          "OK - " + midi + ": viallinen SysEx (tuntematon komento 7E) - hylatty"}},
        {"resume", resumeSelfCheck,
         {"OK - 3 GO:ta kirjoitettu ajotiedostoon", "OK - ajotiedosto luettavissa katkaisun jalkeen",
          "OK - jatkotarjous on olemassa", "OK - palautus: valmiina isku"}},
    };
    for (const auto& [name, check, expected] : rows) {
        SCOPED_TRACE(name);
        const auto [status, text] = runCheck(check);
        EXPECT_EQ(status, 0) << text;
        EXPECT_FALSE(has(text, "VIRHE")) << text;
        EXPECT_TRUE(has(text, "onnistuivat\n")) << text;
        EXPECT_TRUE(settings.unchanged());
        for (const std::string& line : expected) EXPECT_TRUE(has(text, line)) << line << "\n" << text;
    }
}

// A port the settings name but another program holds is no failure: the checks
// move to a free port and the desk is still told the configured one. A port no
// desk can send to fails the check, though the rest still runs.
TEST(SelfCheckControlTest, ConfiguredPortBusyIsNotedAndInvalidFails) {
    const HeldPort held;
    ASSERT_NE(held.port(), 0);
    const std::string busy = std::to_string(held.port());
    const std::tuple<std::string, int, std::vector<std::string>, std::vector<std::string>> rows[] = {
        {R"({"oscPort": )" + busy + R"(, "oscLocalOnly": false})", 0,
         {"HUOM - portti " + busy + " on jo kaytossa", "OK - OSC-palvelin kuuntelee tarkistusporttia",
          "OK - 127.0.0.1 (lo): /page 3"},
         {"VIRHE", "(vain tama kone)"}},
        {R"({"oscPort": 70000})", 1,
         {"VIRHE - asetusten OSC-portti: 70000 ei ole kelvollinen", "OK - 127.0.0.1 (lo): /back",
          "korjaa asetusten OSC-portti", "1/"},
         {"poyta lahettaa", "kaikki"}},
    };
    for (const auto& [json, wanted, present, absent] : rows) {
        SCOPED_TRACE(json);
        const SettingsFile settings(json);
        const auto [status, text] = runCheck(oscSelfCheck);
        EXPECT_EQ(status, wanted) << text;
        for (const std::string& line : present) EXPECT_TRUE(has(text, line)) << line << "\n" << text;
        for (const std::string& line : absent) EXPECT_FALSE(has(text, line)) << line << "\n" << text;
        EXPECT_TRUE(settings.unchanged());
    }
}

// The checks run the show on a copy in the temporary folder, which goes with it.
TEST(SelfCheckControlTest, ScratchDemoGoesWithItsFolder) {
    std::filesystem::path folder;
    {
        const ScratchDemo demo;
        ASSERT_TRUE(demo.error().empty()) << demo.error();
        folder = std::filesystem::path(demo.pdf()).parent_path();
        EXPECT_TRUE(std::filesystem::exists(demo.pdf()));
        EXPECT_EQ(folder.parent_path(), std::filesystem::path(g_get_tmp_dir()));
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
}

}  // namespace
}  // namespace tallowmark
