// The hub's rules, driven through in-memory transports: what reaches it is what the OSC server and the MIDI listener
// would hand it on the main thread.
#include "control/control_hub.hpp"

#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "../cues/cue_fixtures.hpp"
#include "control/control_transport.hpp"

namespace tallowmark {
namespace {

using namespace std::literals;

// A transport in memory: the test hands the hub what the OSC server or the MIDI listener would,
// and reads back how the hub started and stopped it.
class MemoryTransport final : public ControlTransport {
public:
    void start(const TransportOptions& options) override { starts.push_back(options); }
    void stop() override { ++stops; }
    std::vector<std::string> sourceNames() const override { return sources; }
    void deliver(const ControlMessage& message) const { onMessage(message); }
    void report(const TransportStatus& status) const { onStatus(status); }

    std::vector<TransportOptions> starts;
    int stops = 0;
    std::vector<std::string> sources;
};

using Page = std::pair<std::int64_t, bool>;  // value, relative

struct Outcome {  // what one input leaves behind
    std::string run;
    std::vector<std::string> lines = {};
    std::vector<Page> pages = {};
    std::vector<bool> dims = {};
};

MSC::Message msc(MSC::Command command, std::uint8_t device, std::optional<std::string> cue = {}) {
    return {device, 0x01, command, std::move(cue), {}, {}};
}

class Hub : public ::testing::Test {
protected:
    void SetUp() override {
        fresh();
        hub = makeHub(osc, midi);
        hub->onPageCommand = [this](std::int64_t value, bool relative) { pages.emplace_back(value, relative); };
        hub->onDimCommand = [this](bool on) { dims.push_back(on); };
        hub->onLog = [this](const LogEntry& entry) { lines.push_back(entry); };
        hub->onStatus = [this] { ++statusReports; };
        hub->start();
    }
    // A hub over two memory transports, which stay readable through the pointers while it lives.
    std::shared_ptr<ControlHub> makeHub(MemoryTransport*& oscSeen, MemoryTransport*& midiSeen) {
        auto oscOwned = std::make_unique<MemoryTransport>(), midiOwned = std::make_unique<MemoryTransport>();
        oscSeen = oscOwned.get(), midiSeen = midiOwned.get();
        return ControlHub::create(engine, store, {std::move(oscOwned), std::move(midiOwned)});
    }
    // Cues 1 to 5 in script order and a sixth numbered "12.5" as a desk may send it, `gos` of them fired, and
    // everything recorded so far forgotten.
    void fresh(int gos = 0) {
        CueSidecar sidecar = testing::sidecarWithCues(6);
        sidecar.cues[5].number = "12.5";
        testing::EngineAccess::loadFromMemory(engine, sidecar);
        for (int i = 0; i < gos; ++i) engine.go("x");
        lines.clear(), pages.clear(), dims.clear(), statusReports = 0;
    }
    void setSettings(const std::function<void(Settings&)>& change) {
        Settings s = store.settings();
        change(s);
        store.setSettings(s);
    }
    // The texts logged so far, each from `source`.
    std::vector<std::string> texts(const std::string& source) const {
        std::vector<std::string> out;
        for (const LogEntry& e : lines) {
            out.push_back(e.text);
            EXPECT_EQ(e.source, source) << e.text;
        }
        return out;
    }
    void expectOutcome(MemoryTransport* via, const ControlMessage& message, int gos, const std::string& source,
                       const Outcome& expected) {
        fresh(gos);
        via->deliver(message);
        EXPECT_EQ(testing::runOf(engine), expected.run);
        EXPECT_EQ(texts(source), expected.lines);
        EXPECT_EQ(pages, expected.pages);
        EXPECT_EQ(dims, expected.dims);
    }

    CueEngine engine;
    SettingsStore store{true};
    MemoryTransport *osc = nullptr, *midi = nullptr;
    std::shared_ptr<ControlHub> hub;
    std::vector<LogEntry> lines;  // every entry added, in order
    std::vector<Page> pages;
    std::vector<bool> dims;
    int statusReports = 0;
};

TEST_F(Hub, StartOpensMIDIAlwaysAndOSCWhenEnabledAndLetsGoWithTheHub) {
    EXPECT_EQ(osc->starts, (std::vector<TransportOptions>{{53100, true}}));
    EXPECT_EQ(midi->starts.size(), 1u);
    engine.go("desk");  // the engine's own lines land in the control log with their source
    EXPECT_EQ(texts("desk"), std::vector{"GO 1 L1"s});
    EXPECT_TRUE(std::regex_match(lines[0].time, std::regex("^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]$")));

    setSettings([](Settings& s) { s.oscEnabled = false; });
    MemoryTransport *quietOSC = nullptr, *quietMIDI = nullptr;
    auto quiet = makeHub(quietOSC, quietMIDI);
    quiet->start();
    EXPECT_TRUE(quietOSC->starts.empty());
    EXPECT_EQ(quietMIDI->starts.size(), 1u) << "MIDI opens whatever the settings say";
    // What the hub handed out holds it weakly: after it is gone, nothing runs.
    const auto late = quietMIDI->onMessage;
    quiet.reset();
    late(NoteOn{36, 100, 0});
    engine.go("after");
    EXPECT_EQ(engine.fired().size(), 2u) << "only the two direct GOs";
}

TEST_F(Hub, ListeningReportsAndRestartsFollowTheSettings) {
    midi->sources = {"Desk MIDI 1"};
    using Act = std::function<void()>;
    const auto restart = [this](bool enabled, std::int64_t port, bool localOnly) {
        return Act([=, this] {
            setSettings([&](Settings& s) { s.oscEnabled = enabled, s.oscPort = port, s.oscLocalOnly = localOnly; });
            hub->restartOSC();
        });
    };
    const auto report = [this](TransportStatus status) { return Act([=, this] { osc->report(status); }); };
    // What, the act, the OSC transport's new starts and stops, listening/port/error, lines, onStatus calls.
    using Row = std::tuple<const char*, Act, std::vector<TransportOptions>, int, Json, std::vector<std::string>, int>;
    const std::string inUse = "Address already in use";
    // One sequence: each row starts where the one before ended.
    const Row rows[] = {
        {"ready", report({true, 53100, {}}), {}, 0, {true, 53100, ""}, {"OSC kuuntelee porttia 53100"}, 1},
        {"moved above the range: not listening at once", restart(true, 70000, false), {{65535, false}}, 1,
         {false, 70000, ""}, {}, 0},
        {"refused", report({false, 65535, inUse}), {}, 0, {false, 70000, inUse},
         {"OSC ei kaynnisty portissa 65535: " + inUse}, 1},
        {"below the range: the error stays until a report", restart(true, -4, true), {{0, true}}, 1,
         {false, -4, inUse}, {}, 0},
        {"switched off", restart(false, 53100, true), {}, 1, {false, 53100, inUse}, {"OSC pois kaytosta"}, 1},
        {"the stop's own report clears the error", report({false, 53100, {}}), {}, 0, {false, 53100, ""}, {}, 1},
        {"a good port", restart(true, 53200, true), {{53200, true}}, 1, {false, 53200, ""}, {}, 0},
        {"listening", report({true, 53200, {}}), {}, 0, {true, 53200, ""}, {"OSC kuuntelee porttia 53200"}, 1},
    };
    for (const auto& [what, act, starts, stops, listening, logged, reports] : rows) {
        SCOPED_TRACE(what);
        fresh();
        osc->starts.clear(), osc->stops = 0;
        act();
        EXPECT_EQ(osc->starts, starts);
        EXPECT_EQ(osc->stops, stops);
        const Json status = hub->status();
        EXPECT_EQ((Json{status["oscListening"], status["oscPort"], status["oscError"]}), listening);
        EXPECT_EQ(texts("system"), logged);
        EXPECT_EQ(statusReports, reports);
    }
    EXPECT_EQ(hub->status()["midiSources"], Json::array({"Desk MIDI 1"}));
    EXPECT_EQ(midi->starts.size(), 1u) << "OSC settings never touch MIDI";
    EXPECT_EQ(midi->stops, 0);
}

TEST_F(Hub, OSCAddressesRouteToTheEngineAndThePage) {
    const std::string go1 = "GO 1 L1";
    std::vector<std::tuple<OSCMessage, int, Outcome>> rows = {  // message, cues fired before, outcome
        // A number fires that cue; one that names no cue, or none at all, is a plain GO.
        {{"/go", {4.0f}}, 0, {"c5 | c4", {"/go 4", "GO 4 L4"}}},
        {{"/go", {"12.5"s}}, 0, {"none | c6", {"/go 12.5", "GO 12.5 L6"}}},
        {{"/go", {12.0f}}, 0, {"c2 | c1", {"/go 12", go1}}},
        {{"/go", {""s}}, 0, {"c2 | c1", {"/go ", go1}}},
        {{"/cue/2/go", {}}, 0, {"c3 | c2", {"/cue/2/go", "GO 2 L2"}}},
        {{"/reset", {}}, 2, {"c1 |", {"/reset", "RESET - valmius alkuun"}}},
        {{"/standby", {"4"s}}, 0, {"c4 |", {"/standby 4", "STANDBY 4"}}},
        {{"/standby", {}}, 0, {"c1 |", {"/standby"}}},
        {{"/cue", {5}}, 0, {"c6 | c5", {"/cue 5", "GO 5 L5"}}},
        {{"/cue", {}}, 0, {"c1 |", {"/cue"}}},
        {{"/tallowmark/page", {42}}, 0, {"c1 |", {"/tallowmark/page 42"}, {{42, false}}}},
        {{"/page", {"x"s}}, 0, {"c1 |", {"/page x"}}},
        {{"/page/7", {}}, 0, {"c1 |", {"/page/7"}, {{7, false}}}},
        {{"/page/-2", {}}, 0, {"c1 |", {"/page/-2"}, {{-2, false}}}},
        {{"/page/next", {}}, 0, {"c1 |", {"/page/next"}, {{1, true}}}},
        {{"/page/prev", {}}, 0, {"c1 |", {"/page/prev"}, {{-1, true}}}},
        {{"/page/previous", {}}, 0, {"c1 |", {"/page/previous"}, {{-1, true}}}},
        {{"/dim", {0}}, 0, {"c1 |", {"/dim 0"}, {}, {false}}},
        {{"/dim", {}}, 0, {"c1 |", {"/dim"}, {}, {true}}},
        {{"/dim", {"x"s}}, 0, {"c1 |", {"/dim x"}, {}, {true}}},
        {{"/page/x", {}}, 0, {"c1 |", {"/page/x", "tuntematon osoite: /page/x"}}},
        {{"/cue/2", {}}, 0, {"c1 |", {"/cue/2", "tuntematon osoite: /cue/2"}}},
        {{"/Lights/Up", {1.5f}}, 0, {"c1 |", {"/Lights/Up 1.5", "tuntematon osoite: /Lights/Up"}}},
    };
    for (const char* go : {"/go", "/GO", "/tallowmark/go", "/TallowMark", "/"})
        rows.push_back({{go, {}}, 0, {"c2 | c1", {go, go1}}});
    for (const char* back : {"/back", "/prev", "/previous"})
        rows.push_back({{back, {}}, 2, {"c2 | c1", {back, "BACK -> 2"}}});
    int index = 0;
    for (const auto& [message, gos, outcome] : rows) {
        SCOPED_TRACE(message.address);
        // A sender of its own per row, so the rows never meet the rate limit.
        const std::string sender = "10.0.0.7:" + std::to_string(9000 + ++index);
        expectOutcome(osc, OSCInput{message, sender}, gos, "osc " + sender, outcome);
    }
}

// Shares go by sending host, whatever ports it uses; desks the operator names
// keep a share the others cannot spend.
TEST_F(Hub, RateLimitGivesEachHostFiftyAWindowWithinTwoHundredInAllButTheDesks) {
    const auto from = [&](const std::string& sender, int count, const std::string& address = "/nothing") {
        for (int i = 0; i < count; ++i) osc->deliver(OSCInput{OSCMessage{address, {}}, sender});
    };
    const auto count = [&](const std::string& text, const std::string& source) {  // source: its start
        return std::ranges::count_if(lines, [&](const LogEntry& e) { return e.text == text && e.source.starts_with(source); });
    };
    const std::string perHost = "yli 50 komentoa/s - ylimaaraiset pudotetaan";

    setSettings([](Settings& s) { s.oscEnabled = false; });
    from("10.0.0.7:9000", 60, "/go");
    EXPECT_TRUE(lines.empty() && engine.fired().empty());
    setSettings([](Settings& s) { s.oscEnabled = true; });

    ::testing::internal::CaptureStderr();
    for (int port = 0; port < 4; ++port) from("10.0.0.7:" + std::to_string(9000 + port), 30);  // four sockets
    for (int port = 0; port < 256; ++port) from("10.0.0.7:" + std::to_string(20000 + port), 1);  // and a rotator
    from("10.0.0.8:53000", 1, "/go");  // a desk in the same second
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(count("/nothing", "osc 10.0.0.7:"), 50) << "the disabled 60 were not counted";
    EXPECT_EQ(count(perHost, "osc 10.0.0.7:"), 1) << "one line per window, naming the host";
    EXPECT_NE(err.find("TALLOWMARK: OSC " + perHost + " (10.0.0.7)"), std::string::npos) << err;
    EXPECT_TRUE(engine.fired().contains("c1")) << "the desk's GO was eaten by the flood";
    from("fe80::1:9000", 1), from("fe80::2:9000", 1);  // IPv6 hosts apart, by address
    EXPECT_EQ(count("/nothing", "osc fe80::"), 2);

    // Three more flooding hosts fill the shared 200 (50 + 1 + 2 + 50 + 50 + 47); the rest waits,
    // but for a desk the operator named.
    for (const char* host : {"10.0.0.9:1", "10.0.0.10:1", "10.0.0.11:1"}) from(host, 60);
    from("10.0.0.12:1", 5, "/go");
    EXPECT_EQ(count("/nothing", "osc 10.0.0.11:"), 47);
    EXPECT_EQ(engine.fired().size(), 1u);
    EXPECT_EQ(count("yli 200 komentoa/s - ylimaaraiset pudotetaan", "osc"), 1);
    setSettings([](Settings& s) { s.oscDeskHosts = {"10.0.0.12"}; });
    from("10.0.0.12:2", 3, "/go");
    from("10.0.0.12:2", 60);
    EXPECT_EQ(engine.fired().size(), 4u);
    EXPECT_EQ(count("/nothing", "osc 10.0.0.12:"), 47) << "a desk's own share is bounded like any host's";

    g_usleep(1'050'000);  // the next window, for everyone
    from("10.0.0.7:9000", 1, "/go");
    from("10.0.0.13:1", 1, "/go");
    EXPECT_EQ(engine.fired().size(), 6u);
}

TEST_F(Hub, GoWithANumberNotInTheScriptFollowsTheSetting) {
    for (const char* setting : {"go", "ignore"}) {
        SCOPED_TRACE(setting);
        setSettings([&](Settings& s) { s.oscGoUnknownNumber = setting; });
        fresh();
        osc->deliver(OSCInput{OSCMessage{"/go", {std::string("9")}}, "10.0.0.5:9000"});
        osc->deliver(OSCInput{OSCMessage{"/go", {std::int32_t{3}}}, "10.0.0.5:9000"});
        const bool fires = std::string(setting) == "go";
        EXPECT_EQ(testing::runOf(engine), fires ? "c4 | c1 c3" : "c4 | c3");
        EXPECT_EQ(std::ranges::count_if(lines, [](const LogEntry& e) {
                      return e.text == "GO 9 ohitettu - numeroa ei ole kasikirjoituksessa";
                  }),
                  fires ? 0 : 1);
    }
}

// A fire by number from MSC inside the GO guard is a GO ignored, not a cue the script lacks.
TEST_F(Hub, AnMscGoInsideTheGuardIsNotCalledUnknown) {
    engine.setGoGuard([] { return 300; });
    for (const char* cue : {"2", "3"}) midi->deliver(msc(MSC::Command::go, 1, cue));
    EXPECT_EQ(testing::runOf(engine), "c3 | c2");
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.back().text.starts_with("GO ohitettu - ")) << lines.back().text;
    for (const LogEntry& line : lines) EXPECT_EQ(line.text.find("ei ole merkittyna"), std::string::npos) << line.text;
}

TEST_F(Hub, LogKeepsTheNewest300) {
    for (int i = 1; i <= 301; ++i) engine.onLog("rivi " + std::to_string(i), "system");
    ASSERT_EQ(hub->log().size(), 300u);
    EXPECT_EQ(hub->log().front().text, "rivi 2");
    EXPECT_EQ(lines.size(), 301u) << "every entry is handed on as it comes";
}

TEST_F(Hub, NoteBindingsUseTheFirstMatchAndAlwaysReportTheRawNote) {
    setSettings([](Settings& s) {
        s.midiMap = {{60, "back", 1}, {60, "go", std::nullopt}, {61, "pageNext", std::nullopt},
                     {63, "pagePrev", std::nullopt}, {64, "reset", 2}, {62, "dance", {}}};
    });
    std::vector<std::tuple<int, int, int>> raw;  // note, velocity, channel
    hub->onRawNote = [&](int note, int velocity, int channel) { raw.emplace_back(note, velocity, channel); };
    const std::tuple<const char*, NoteOn, bool, int, std::string, Outcome> rows[] = {
        // what, note, MIDI enabled, cues fired before, the lines' source, outcome
        {"channel 0 skips the channel-1 binding", {60, 100, 0}, true, 0, "midi ch1 n60", {"c2 | c1", {"GO 1 L1"}}},
        {"channel 1 takes the binding listed first", {60, 100, 1}, true, 1, "midi ch2 n60", {"c1 |", {"BACK -> 1"}}},
        {"pageNext", {61, 10, 3}, true, 0, "midi ch4 n61", {"c1 |", {"PAGE +1"}, {{1, true}}}},
        {"pagePrev", {63, 10, 15}, true, 0, "midi ch16 n63", {"c1 |", {"PAGE -1"}, {{-1, true}}}},
        {"reset on its channel", {64, 10, 2}, true, 2, "midi ch3 n64", {"c1 |", {"RESET - valmius alkuun"}}},
        {"reset bound to another channel", {64, 10, 0}, true, 2, "", {"c3 | c1 c2"}},
        {"an unknown action", {62, 10, 0}, true, 0, "", {"c1 |"}},
        {"unbound", {99, 10, 0}, true, 0, "", {"c1 |"}},
        {"MIDI switched off", {60, 100, 0}, false, 0, "", {"c1 |"}},
    };
    for (const auto& [what, note, enabled, gos, source, outcome] : rows) {
        SCOPED_TRACE(what);
        setSettings([on = enabled](Settings& s) { s.midiEnabled = on; });
        raw.clear();
        expectOutcome(midi, note, gos, source, outcome);
        EXPECT_EQ(raw, std::vector{std::tuple(note.note, note.velocity, note.channel)}) << "each reaches the page";
    }
}

TEST_F(Hub, MSCCommandsObeyTheDeviceFilterAndTheBareGoSetting) {
    using C = MSC::Command;
    const std::string dev5 = "msc dev5", all = "msc dev127", goAll = "MSC GO  [dev all, Lighting]";
    const std::string fire99 = "MSC FIRE cue 99  [dev 5, Lighting]", unknown99 = "Cue \"99\" ei ole kasikirjoituksessa";
    const std::string reset = "RESET - valmius alkuun", go3 = "GO 3 L3", sb4 = "STANDBY 4";
    struct Row {  // cues fired before; the lines' source; the settings
        const char* what;
        MSC::Message message;
        int gos;
        std::string source;
        Outcome outcome;
        std::int64_t filter = -1;
        bool bareGo = true, enabled = true;
    };
    const Row rows[] = {
        {"GO by number, kept as text", msc(C::go, 5, "12.5"), 0, dev5,
         {"none | c6", {"MSC GO cue 12.5  [dev 5, Lighting]", "GO 12.5 L6"}}},
        {"TIMED GO", msc(C::timedGo, 5, "3"), 0, dev5, {"c4 | c3", {"MSC TIMED GO cue 3  [dev 5, Lighting]", go3}}},
        {"an unknown cue never fires the standby cue", msc(C::fire, 5, "99"), 0, dev5,
         {"c1 |", {fire99, unknown99, "cue 99 ei ole merkittyna - valmius ei liikkunut"}}},
        {"an unknown cue, bare GO off", msc(C::fire, 5, "99"), 0, dev5, {"c1 |", {fire99, unknown99}}, -1, false},
        {"a bare GO fires the standby cue", msc(C::go, 0x7F), 0, all, {"c2 | c1", {goAll, "GO 1 L1"}}},
        {"a bare GO, bare GO off", msc(C::go, 0x7F), 0, all, {"c1 |", {goAll}}, -1, false},
        {"filtered out", msc(C::go, 3), 0, "msc",
         {"c1 |", {"MSC GO  [dev 3, Lighting] - ohitettu (laitesuodatin 5)"}}, 5},
        {"the filter's device", msc(C::go, 5), 0, dev5, {"c2 | c1", {"MSC GO  [dev 5, Lighting]", "GO 1 L1"}}, 5},
        {"all-call passes the filter", msc(C::go, 0x7F), 0, all, {"c2 | c1", {goAll, "GO 1 L1"}}, 5},
        {"LOAD moves the standby", msc(C::load, 5, "4"), 0, dev5, {"c4 |", {"MSC LOAD cue 4  [dev 5, Lighting]", sb4}}},
        {"LOAD without a cue", msc(C::load, 5), 0, dev5, {"c1 |", {"MSC LOAD  [dev 5, Lighting]"}}},
        {"ALL OFF resets", msc(C::allOff, 5), 2, dev5, {"c1 |", {"MSC ALL OFF  [dev 5, Lighting]", reset}}},
        {"RESET resets", msc(C::reset, 5), 2, dev5, {"c1 |", {"MSC RESET  [dev 5, Lighting]", reset}}},
        {"STOP is only logged", msc(C::stop, 5), 2, dev5, {"c3 | c1 c2", {"MSC STOP  [dev 5, Lighting]"}}},
        {"MSC switched off", msc(C::go, 5, "3"), 0, "", {"c1 |"}, -1, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        setSettings([&](Settings& s) {
            s.mscDeviceFilter = row.filter, s.mscBareGoFiresStandby = row.bareGo, s.mscEnabled = row.enabled;
        });
        expectOutcome(midi, row.message, row.gos, row.source, row.outcome);
    }
}

TEST_F(Hub, ForeignSysExIsLoggedShortWhateverTheSettings) {
    setSettings([](Settings& s) { s.midiEnabled = false, s.mscEnabled = false; });
    const std::pair<std::size_t, std::string> rows[] = {  // F0 43 10 4C, then 01 up to the size, F7
        {5, "SysEx (ei MSC): F0 43 10 4C F7"},
        {12, "SysEx (ei MSC): F0 43 10 4C 01 01 01 01 01 01 01 F7"},
        {13, "SysEx (ei MSC): F0 43 10 4C 01 01 01 01 01 01 01 01 \u2026"},
    };
    for (const auto& [size, text] : rows) {
        SCOPED_TRACE(size);
        std::vector<std::uint8_t> bytes{0xF0, 0x43, 0x10, 0x4C};
        bytes.resize(size - 1, 0x01);
        bytes.push_back(0xF7);
        expectOutcome(midi, ForeignSysEx{bytes}, 0, "midi", {"c1 |", {text}});
    }
}

}  // namespace
}  // namespace tallowmark
