#include "control/control_hub.hpp"

#include <glib.h>
#include <gtest/gtest.h>

#include <regex>

#include "../cues/cue_fixtures.hpp"

namespace tallowmark {
namespace {

using namespace std::literals;
using testing::sidecarWithCues;

class Hub : public ::testing::Test {
protected:
    void SetUp() override {
        testing::EngineAccess::loadFromMemory(engine, sidecarWithCues(5));
        hub = ControlHub::create(engine, store);
        // The wiring of start() without opening sockets or MIDI.
        engine.onLog = [this](const std::string& text, const std::string& source) { hub->append(text, source); };
        hub->onPageCommand = [this](std::int64_t value, bool relative) { pages.emplace_back(value, relative); };
        hub->onDimCommand = [this](bool on) { dims.push_back(on); };
    }
    void osc(std::string address, std::vector<OSCArgument> arguments = {}) {
        hub->handleOSC(OSCMessage{std::move(address), std::move(arguments)}, "10.0.0.7:9000");
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const LogEntry& e : hub->log()) out.push_back(e.text);
        return out;
    }
    void setSettings(const std::function<void(Settings&)>& change) {
        Settings s = store.settings();
        change(s);
        store.setSettings(s);
    }
    std::string run() const { return testing::runOf(engine); }

    CueEngine engine;
    SettingsStore store{true};
    std::shared_ptr<ControlHub> hub;
    std::vector<std::pair<std::int64_t, bool>> pages;
    std::vector<bool> dims;
};

TEST_F(Hub, GoAddressesActAlikeAndLogWithTheSender) {
    // Five addresses for five cues: one that did nothing would leave a cue unfired.
    for (const char* address : {"/go", "/GO", "/tallowmark/go", "/TallowMark", "/"}) osc(address);
    EXPECT_EQ(engine.fired().size(), 5u);
    EXPECT_EQ(hub->log()[0].text, "/go");
    EXPECT_EQ(hub->log()[0].source, "osc 10.0.0.7:9000");
    EXPECT_EQ(hub->log()[1].text, "GO 1 L1");
    EXPECT_EQ(hub->log()[1].source, "osc 10.0.0.7:9000") << "engine lines carry the command's source";
    EXPECT_TRUE(std::regex_match(hub->log()[0].time, std::regex("^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]$")));
}

TEST_F(Hub, RunCommandsAndAGoWithANumberFiresThatCueOrElseTheStandbyCue) {
    osc("/go", {12.0f});  // no cue 12: plain GO
    EXPECT_EQ(texts()[0], "/go 12");
    osc("/go", {4.0f});
    EXPECT_EQ(run(), "c5 | c1 c4");
    osc("/cue/2/go");
    EXPECT_EQ(run(), "c3 | c1 c2 c4");

    osc("/reset");
    EXPECT_EQ(run(), "c1 |");
    osc("/go");
    osc("/go");
    osc("/previous");
    EXPECT_EQ(run(), "c2 | c1");
    osc("/standby", {"4"s});
    EXPECT_EQ(run(), "c4 | c1");
    const auto lines = hub->log().size();
    osc("/standby");  // no argument: only the message line
    osc("/cue");
    EXPECT_EQ(hub->log().size(), lines + 2);
    osc("/cue", {5});
    EXPECT_EQ(run(), "none | c1 c5");
}

TEST_F(Hub, PageDimAndUnknownAddresses) {
    osc("/tallowmark/page", {42});
    osc("/page/7");
    osc("/page/next");
    osc("/page/previous");
    osc("/page", {"x"s});  // no integer: nothing
    using P = std::pair<std::int64_t, bool>;
    EXPECT_EQ(pages, (std::vector<P>{{42, false}, {7, false}, {1, true}, {-1, true}}));

    osc("/dim", {0});
    osc("/dim", {1});
    osc("/dim");
    osc("/dim", {"x"s});
    EXPECT_EQ(dims, (std::vector<bool>{false, true, true, true}));

    osc("/page/x");
    osc("/Lights/Up", {1.5f});
    const auto lines = texts();
    EXPECT_EQ(std::vector(lines.end() - 4, lines.end()),
              (std::vector<std::string>{"/page/x", "tuntematon osoite: /page/x", "/Lights/Up 1.5",
                                        "tuntematon osoite: /Lights/Up"}));
}

TEST_F(Hub, RateLimitGivesEachSenderFiftyAWindowWithinTwoHundredInAll) {
    const auto from = [&](const std::string& sender, int count, const std::string& address = "/nothing") {
        for (int i = 0; i < count; ++i) hub->handleOSC(OSCMessage{address, {}}, sender);
    };
    const auto lines = [&](const std::string& text, const std::string& source) {
        return std::count_if(hub->log().begin(), hub->log().end(),
                             [&](const LogEntry& e) { return e.text == text && e.source == source; });
    };
    const std::string perPeer = "yli 50 komentoa/s - ylimaaraiset pudotetaan";
    const std::string total = "yli 200 komentoa/s - ylimaaraiset pudotetaan";

    setSettings([](Settings& s) { s.oscEnabled = false; });
    from("10.0.0.7:9000", 60, "/go");
    EXPECT_TRUE(hub->log().empty());
    EXPECT_TRUE(engine.fired().empty());
    setSettings([](Settings& s) { s.oscEnabled = true; });

    ::testing::internal::CaptureStderr();
    from("10.0.0.7:9000", 120);  // a flooding peer
    from("10.0.0.8:53000", 1, "/go");  // a desk in the same second
    from("10.0.0.7:9000", 10);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(lines("/nothing", "osc 10.0.0.7:9000"), 50) << "the disabled 60 were not counted";
    EXPECT_EQ(lines(perPeer, "osc 10.0.0.7:9000"), 1) << "one line per window, naming the peer";
    EXPECT_NE(err.find("TALLOWMARK: OSC yli 50 komentoa/s - ylimaaraiset pudotetaan (10.0.0.7:9000)"),
              std::string::npos)
        << err;
    EXPECT_TRUE(engine.fired().contains("c1")) << "the desk's GO was eaten by the flood";

    // Three more flooding peers fill the shared 200 (50 + 1 + 50 + 50 + 49); the rest waits.
    ::testing::internal::CaptureStderr();
    from("10.0.0.9:1", 60);
    from("10.0.0.10:1", 60);
    from("10.0.0.11:1", 60);
    from("10.0.0.12:1", 5);
    err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(lines("/nothing", "osc 10.0.0.11:1"), 49);
    EXPECT_EQ(lines("/nothing", "osc 10.0.0.12:1"), 0);
    EXPECT_EQ(lines(total, "osc"), 1);
    EXPECT_NE(err.find("TALLOWMARK: OSC yli 200 komentoa/s - ylimaaraiset pudotetaan"), std::string::npos) << err;
    for (const char* peer : {"osc 10.0.0.9:1", "osc 10.0.0.10:1"}) EXPECT_EQ(lines(perPeer, peer), 1) << peer;

    g_usleep(1'050'000);  // the next window, for everyone
    from("10.0.0.7:9000", 1, "/go");
    from("10.0.0.12:1", 1, "/go");
    EXPECT_EQ(engine.fired().size(), 3u);
}

TEST_F(Hub, LogKeepsTheNewest300) {
    for (int i = 1; i <= 301; ++i) hub->append("rivi " + std::to_string(i), "system");
    ASSERT_EQ(hub->log().size(), 300u);
    EXPECT_EQ(hub->log().front().text, "rivi 2");
    EXPECT_EQ(toJson(hub->log().back()), (Json{{"time", hub->log().back().time}, {"source", "system"},
                                               {"text", "rivi 301"}}));
}

TEST_F(Hub, NoteBindingsUseTheFirstMatchAndAlwaysReportTheRawNote) {
    setSettings([](Settings& s) {
        s.midiMap = {{60, "back", 1}, {60, "go", std::nullopt}, {61, "pageNext", std::nullopt}, {62, "dance", {}}};
    });
    std::vector<int> raw;
    hub->onRawNote = [&](int note, int, int) { raw.push_back(note); };
    hub->handleNote(60, 100, 0);  // channel 0 skips the channel-1 binding
    EXPECT_EQ(run(), "c2 | c1");
    EXPECT_EQ(hub->log().back().source, "midi ch1 n60");
    hub->handleNote(60, 100, 1);
    EXPECT_EQ(run(), "c1 |") << "back";
    EXPECT_EQ(hub->log().back().source, "midi ch2 n60");
    hub->handleNote(61, 10, 3);
    EXPECT_EQ(texts().back(), "PAGE +1");
    EXPECT_EQ(pages.back(), std::make_pair(std::int64_t(1), true));
    const auto lines = hub->log().size();
    hub->handleNote(62, 10, 0);  // unknown action
    hub->handleNote(99, 10, 0);  // unbound
    setSettings([](Settings& s) { s.midiEnabled = false; });
    hub->handleNote(60, 100, 0);
    EXPECT_EQ(hub->log().size(), lines);
    EXPECT_EQ(raw, (std::vector<int>{60, 60, 61, 62, 99, 60}));
}

MSC::Message msc(MSC::Command command, std::uint8_t device, std::optional<std::string> cue = {}) {
    return {device, 0x01, command, std::move(cue), {}, {}};
}

TEST_F(Hub, MSCGoFiresByNumberButNeverTheStandbyForAnUnknownCue) {
    CueSidecar sidecar = sidecarWithCues(3);
    sidecar.cues[1].number = "12.5";
    testing::EngineAccess::loadFromMemory(engine, sidecar);
    hub->handleMSC(msc(MSC::Command::go, 5, "12.5"));
    EXPECT_EQ(run(), "c3 | c2");
    EXPECT_EQ(hub->log()[0].source, "msc dev5");
    EXPECT_EQ(hub->log()[0].text, "MSC GO cue 12.5  [dev 5, Lighting]");

    hub->handleMSC(msc(MSC::Command::fire, 5, "99"));
    EXPECT_EQ(texts().back(), "cue 99 ei ole merkittyna - valmius ei liikkunut");
    EXPECT_EQ(run(), "c3 | c2");

    hub->handleMSC(msc(MSC::Command::go, 0x7F));  // bare GO fires the standby cue
    EXPECT_EQ(run(), "none | c2 c3");
    setSettings([](Settings& s) { s.mscBareGoFiresStandby = false; });
    engine.reset("x");
    const auto lines = hub->log().size();
    hub->handleMSC(msc(MSC::Command::go, 0x7F));
    EXPECT_EQ(run(), "c1 |");
    EXPECT_EQ(hub->log().size(), lines + 1) << "only the message line";
}

TEST_F(Hub, MSCDeviceFilterLoadResetAndDisabled) {
    setSettings([](Settings& s) { s.mscDeviceFilter = 5; });
    hub->handleMSC(msc(MSC::Command::go, 3));
    EXPECT_EQ(texts().back(), "MSC GO  [dev 3, Lighting] - ohitettu (laitesuodatin 5)");
    EXPECT_EQ(hub->log().back().source, "msc");
    EXPECT_EQ(run(), "c1 |");
    hub->handleMSC(msc(MSC::Command::go, 0x7F));
    EXPECT_EQ(run(), "c2 | c1");

    hub->handleMSC(msc(MSC::Command::load, 5, "4"));
    EXPECT_EQ(run(), "c4 | c1");
    hub->handleMSC(msc(MSC::Command::allOff, 5));
    EXPECT_EQ(run(), "c1 |");
    hub->handleMSC(msc(MSC::Command::stop, 5));
    EXPECT_EQ(texts().back(), "MSC STOP  [dev 5, Lighting]");

    setSettings([](Settings& s) { s.mscEnabled = false; });
    const auto lines = hub->log().size();
    hub->handleMSC(msc(MSC::Command::go, 5));
    EXPECT_EQ(hub->log().size(), lines);
}

TEST_F(Hub, ForeignSysExIsLoggedShort) {
    std::vector<std::uint8_t> bytes = {0xF0, 0x43, 0x10, 0x4C};
    hub->handleForeignSysEx(bytes);
    EXPECT_EQ(texts().back(), "SysEx (ei MSC): F0 43 10 4C");
    bytes.resize(20, 0x01);
    bytes.back() = 0xF7;
    hub->handleForeignSysEx(bytes);
    EXPECT_EQ(texts().back(), "SysEx (ei MSC): F0 43 10 4C 01 01 01 01 01 01 01 01 \u2026");
    EXPECT_EQ(hub->log().back().source, "midi");
}

}  // namespace
}  // namespace tallowmark
