// The hub's rules, driven through in-memory transports: what reaches it is
// what the OSC server and the MIDI listener would hand it on the main thread.
#include "control/control_hub.hpp"

#include <glib.h>
#include <gtest/gtest.h>

#include <regex>

#include "../cues/cue_fixtures.hpp"
#include "memory_transport.hpp"

namespace tallowmark {
namespace {

using namespace std::literals;
using testing::MemoryTransport;

using Page = std::pair<std::int64_t, bool>;  // value, relative

// Cues 1 to 5 in script order, then a sixth numbered "12.5" as a desk may send it.
CueSidecar script() {
    CueSidecar sidecar = testing::sidecarWithCues(6);
    sidecar.cues[5].number = "12.5";
    return sidecar;
}

MSC::Message msc(MSC::Command command, std::uint8_t device, std::optional<std::string> cue = {}) {
    return {device, 0x01, command, std::move(cue), {}, {}};
}

class Hub : public ::testing::Test {
protected:
    void SetUp() override {
        testing::EngineAccess::loadFromMemory(engine, script());
        hub = makeHub(osc, midi);
        hub->onPageCommand = [this](std::int64_t value, bool relative) { pages.emplace_back(value, relative); };
        hub->onDimCommand = [this](bool on) { dims.push_back(on); };
        hub->onLog = [this](const LogEntry& entry) { lines.push_back(entry); };
        hub->onStatus = [this] { ++statusReports; };
        hub->start();
    }
    // A hub over two memory transports, which stay readable through the pointers while it lives.
    std::shared_ptr<ControlHub> makeHub(MemoryTransport*& oscSeen, MemoryTransport*& midiSeen) {
        auto oscTransport = std::make_unique<MemoryTransport>(), midiTransport = std::make_unique<MemoryTransport>();
        oscSeen = oscTransport.get();
        midiSeen = midiTransport.get();
        return ControlHub::create(engine, store, {std::move(oscTransport), std::move(midiTransport)});
    }
    // The script reloaded with `gos` cues fired, and everything recorded so far forgotten.
    void fresh(int gos = 0) {
        testing::EngineAccess::loadFromMemory(engine, script());
        for (int i = 0; i < gos; ++i) engine.go("x");
        lines.clear();
        pages.clear();
        dims.clear();
        statusReports = 0;
    }
    void setSettings(const std::function<void(Settings&)>& change) {
        Settings s = store.settings();
        change(s);
        store.setSettings(s);
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const LogEntry& e : lines) out.push_back(e.text);
        return out;
    }
    std::string run() const { return testing::runOf(engine); }

    CueEngine engine;
    SettingsStore store{true};
    MemoryTransport* osc = nullptr;
    MemoryTransport* midi = nullptr;
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
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "GO 1 L1");
    EXPECT_EQ(lines[0].source, "desk");
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

    // A hub without transports hears nothing and still starts.
    auto deaf = ControlHub::create(engine, store, {});
    deaf->start();
    EXPECT_EQ(deaf->status()["midiSources"], Json::array());
}

TEST_F(Hub, ListeningReportsAndRestartsFollowTheSettings) {
    midi->sources = {"Desk MIDI 1"};
    struct Row {
        const char* what;
        std::function<void()> act;
        std::vector<TransportOptions> starts;  // new starts of the OSC transport
        int stops;                             // new stops
        Json status;                           // oscListening, oscPort, oscError
        std::vector<std::string> lines;
        int reports;  // onStatus calls
    };
    const auto restart = [this](bool enabled, std::int64_t port, bool localOnly) {
        return [=, this] {
            setSettings([&](Settings& s) {
                s.oscEnabled = enabled;
                s.oscPort = port;
                s.oscLocalOnly = localOnly;
            });
            hub->restartOSC();
        };
    };
    const auto report = [this](TransportStatus status) { return [=, this] { osc->report(status); }; };
    // One sequence: each row starts where the one before ended.
    const Row rows[] = {
        {"ready", report({true, 53100, {}}), {}, 0, {true, 53100, ""}, {"OSC kuuntelee porttia 53100"}, 1},
        {"moved above the range: not listening at once", restart(true, 70000, false), {{65535, false}}, 1,
         {false, 70000, ""}, {}, 0},
        {"refused", report({false, 65535, "Address already in use"}), {}, 0,
         {false, 70000, "Address already in use"}, {"OSC ei kaynnisty portissa 65535: Address already in use"}, 1},
        {"below the range: the error stays until a report", restart(true, -4, true), {{0, true}}, 1,
         {false, -4, "Address already in use"}, {}, 0},
        {"switched off", restart(false, 53100, true), {}, 1, {false, 53100, "Address already in use"},
         {"OSC pois kaytosta"}, 1},
        {"the stop's own report clears the error", report({false, 53100, {}}), {}, 0, {false, 53100, ""}, {}, 1},
        {"a good port", restart(true, 53200, true), {{53200, true}}, 1, {false, 53200, ""}, {}, 0},
        {"listening", report({true, 53200, {}}), {}, 0, {true, 53200, ""}, {"OSC kuuntelee porttia 53200"}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::size_t startsBefore = osc->starts.size();
        const int stopsBefore = osc->stops;
        fresh();
        row.act();
        EXPECT_EQ(std::vector(osc->starts.begin() + startsBefore, osc->starts.end()), row.starts);
        EXPECT_EQ(osc->stops - stopsBefore, row.stops);
        EXPECT_EQ(hub->status(), (Json{{"oscListening", row.status[0]},
                                       {"oscPort", row.status[1]},
                                       {"oscError", row.status[2]},
                                       {"midiSources", {"Desk MIDI 1"}}}));
        EXPECT_EQ(texts(), row.lines);
        for (const LogEntry& e : lines) EXPECT_EQ(e.source, "system");
        EXPECT_EQ(statusReports, row.reports);
    }
    EXPECT_EQ(midi->starts.size(), 1u) << "OSC settings never touch MIDI";
    EXPECT_EQ(midi->stops, 0);
}

TEST_F(Hub, OSCAddressesRouteToTheEngineAndThePage) {
    struct Row {
        OSCMessage message;
        int gos;          // fired before
        std::string run;  // after
        std::vector<std::string> lines;
        std::vector<Page> pages = {};
        std::vector<bool> dims = {};
    };
    const std::string go1 = "GO 1 L1";
    std::vector<Row> rows = {
        // A number fires that cue; one that names no cue, or none at all, is a plain GO.
        {{"/go", {4.0f}}, 0, "c5 | c4", {"/go 4", "GO 4 L4"}},
        {{"/go", {"12.5"s}}, 0, "none | c6", {"/go 12.5", "GO 12.5 L6"}},
        {{"/go", {12.0f}}, 0, "c2 | c1", {"/go 12", go1}},
        {{"/go", {""s}}, 0, "c2 | c1", {"/go ", go1}},
        {{"/cue/2/go", {}}, 0, "c3 | c2", {"/cue/2/go", "GO 2 L2"}},
        {{"/reset", {}}, 2, "c1 |", {"/reset", "RESET - valmius alkuun"}},
        {{"/standby", {"4"s}}, 0, "c4 |", {"/standby 4", "STANDBY 4"}},
        {{"/standby", {}}, 0, "c1 |", {"/standby"}},
        {{"/cue", {5}}, 0, "c6 | c5", {"/cue 5", "GO 5 L5"}},
        {{"/cue", {}}, 0, "c1 |", {"/cue"}},
        {{"/tallowmark/page", {42}}, 0, "c1 |", {"/tallowmark/page 42"}, {{42, false}}},
        {{"/page", {"x"s}}, 0, "c1 |", {"/page x"}},
        {{"/page/7", {}}, 0, "c1 |", {"/page/7"}, {{7, false}}},
        {{"/page/-2", {}}, 0, "c1 |", {"/page/-2"}, {{-2, false}}},
        {{"/page/next", {}}, 0, "c1 |", {"/page/next"}, {{1, true}}},
        {{"/page/prev", {}}, 0, "c1 |", {"/page/prev"}, {{-1, true}}},
        {{"/page/previous", {}}, 0, "c1 |", {"/page/previous"}, {{-1, true}}},
        {{"/dim", {0}}, 0, "c1 |", {"/dim 0"}, {}, {false}},
        {{"/dim", {1}}, 0, "c1 |", {"/dim 1"}, {}, {true}},
        {{"/dim", {}}, 0, "c1 |", {"/dim"}, {}, {true}},
        {{"/dim", {"x"s}}, 0, "c1 |", {"/dim x"}, {}, {true}},
        {{"/page/x", {}}, 0, "c1 |", {"/page/x", "tuntematon osoite: /page/x"}},
        {{"/cue/2", {}}, 0, "c1 |", {"/cue/2", "tuntematon osoite: /cue/2"}},
        {{"/Lights/Up", {1.5f}}, 0, "c1 |", {"/Lights/Up 1.5", "tuntematon osoite: /Lights/Up"}},
    };
    for (const char* go : {"/go", "/GO", "/tallowmark/go", "/TallowMark", "/"})
        rows.push_back({{go, {}}, 0, "c2 | c1", {go, go1}});
    for (const char* back : {"/back", "/prev", "/previous"})
        rows.push_back({{back, {}}, 2, "c2 | c1", {back, "BACK -> 2"}});
    int index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message.address);
        fresh(row.gos);
        // A sender of its own per row, so the rows never meet the rate limit.
        const std::string sender = "10.0.0.7:" + std::to_string(9000 + ++index);
        osc->deliver(OSCInput{row.message, sender});
        EXPECT_EQ(run(), row.run);
        EXPECT_EQ(texts(), row.lines);
        for (const LogEntry& e : lines) EXPECT_EQ(e.source, "osc " + sender) << e.text;
        EXPECT_EQ(pages, row.pages);
        EXPECT_EQ(dims, row.dims);
    }
}

TEST_F(Hub, RateLimitGivesEachSenderFiftyAWindowWithinTwoHundredInAll) {
    const auto from = [&](const std::string& sender, int count, const std::string& address = "/nothing") {
        for (int i = 0; i < count; ++i) osc->deliver(OSCInput{OSCMessage{address, {}}, sender});
    };
    const auto count = [&](const std::string& text, const std::string& source) {
        return std::count_if(lines.begin(), lines.end(),
                             [&](const LogEntry& e) { return e.text == text && e.source == source; });
    };
    const std::string perPeer = "yli 50 komentoa/s - ylimaaraiset pudotetaan";
    const std::string total = "yli 200 komentoa/s - ylimaaraiset pudotetaan";

    setSettings([](Settings& s) { s.oscEnabled = false; });
    from("10.0.0.7:9000", 60, "/go");
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(engine.fired().empty());
    setSettings([](Settings& s) { s.oscEnabled = true; });

    ::testing::internal::CaptureStderr();
    from("10.0.0.7:9000", 120);        // a flooding peer
    from("10.0.0.8:53000", 1, "/go");  // a desk in the same second
    from("10.0.0.7:9000", 10);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(count("/nothing", "osc 10.0.0.7:9000"), 50) << "the disabled 60 were not counted";
    EXPECT_EQ(count(perPeer, "osc 10.0.0.7:9000"), 1) << "one line per window, naming the peer";
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
    EXPECT_EQ(count("/nothing", "osc 10.0.0.11:1"), 49);
    EXPECT_EQ(count("/nothing", "osc 10.0.0.12:1"), 0);
    EXPECT_EQ(count(total, "osc"), 1);
    EXPECT_NE(err.find("TALLOWMARK: OSC yli 200 komentoa/s - ylimaaraiset pudotetaan"), std::string::npos) << err;
    for (const char* peer : {"osc 10.0.0.9:1", "osc 10.0.0.10:1"}) EXPECT_EQ(count(perPeer, peer), 1) << peer;

    g_usleep(1'050'000);  // the next window, for everyone
    from("10.0.0.7:9000", 1, "/go");
    from("10.0.0.12:1", 1, "/go");
    EXPECT_EQ(engine.fired().size(), 3u);
}

TEST_F(Hub, LogKeepsTheNewest300) {
    for (int i = 1; i <= 301; ++i) engine.onLog("rivi " + std::to_string(i), "system");
    ASSERT_EQ(hub->log().size(), 300u);
    EXPECT_EQ(hub->log().front().text, "rivi 2");
    EXPECT_EQ(lines.size(), 301u) << "every entry is handed on as it comes";
    EXPECT_EQ(toJson(hub->log().back()), (Json{{"time", hub->log().back().time}, {"source", "system"},
                                               {"text", "rivi 301"}}));
}

TEST_F(Hub, NoteBindingsUseTheFirstMatchAndAlwaysReportTheRawNote) {
    setSettings([](Settings& s) {
        s.midiMap = {{60, "back", 1}, {60, "go", std::nullopt}, {61, "pageNext", std::nullopt},
                     {63, "pagePrev", std::nullopt}, {64, "reset", 2}, {62, "dance", {}}};
    });
    std::vector<NoteOn> raw;
    hub->onRawNote = [&](int note, int velocity, int channel) { raw.push_back({note, velocity, channel}); };
    struct Row {
        const char* what;
        NoteOn note;
        bool midiEnabled;
        int gos;
        std::string run;
        std::vector<std::string> lines;  // all with the note's source
        std::string source;
        std::vector<Page> pages = {};
    };
    const Row rows[] = {
        {"channel 0 skips the channel-1 binding", {60, 100, 0}, true, 0, "c2 | c1", {"GO 1 L1"}, "midi ch1 n60"},
        {"channel 1 takes the binding listed first", {60, 100, 1}, true, 1, "c1 |", {"BACK -> 1"}, "midi ch2 n60"},
        {"pageNext", {61, 10, 3}, true, 0, "c1 |", {"PAGE +1"}, "midi ch4 n61", {{1, true}}},
        {"pagePrev", {63, 10, 15}, true, 0, "c1 |", {"PAGE -1"}, "midi ch16 n63", {{-1, true}}},
        {"reset on its channel", {64, 10, 2}, true, 2, "c1 |", {"RESET - valmius alkuun"}, "midi ch3 n64"},
        {"reset bound to another channel", {64, 10, 0}, true, 2, "c3 | c1 c2", {}, ""},
        {"an unknown action", {62, 10, 0}, true, 0, "c1 |", {}, ""},
        {"unbound", {99, 10, 0}, true, 0, "c1 |", {}, ""},
        {"MIDI switched off", {60, 100, 0}, false, 0, "c1 |", {}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        setSettings([&](Settings& s) { s.midiEnabled = row.midiEnabled; });
        fresh(row.gos);
        raw.clear();
        midi->deliver(row.note);
        EXPECT_EQ(run(), row.run);
        EXPECT_EQ(texts(), row.lines);
        for (const LogEntry& e : lines) EXPECT_EQ(e.source, row.source);
        EXPECT_EQ(pages, row.pages);
        ASSERT_EQ(raw.size(), 1u) << "every note reaches the page, whatever the settings";
        EXPECT_EQ(std::tie(raw[0].note, raw[0].velocity, raw[0].channel),
                  std::tie(row.note.note, row.note.velocity, row.note.channel));
    }
}

TEST_F(Hub, MSCCommandsObeyTheDeviceFilterAndTheBareGoSetting) {
    using C = MSC::Command;
    struct Row {
        const char* what;
        MSC::Message message;
        std::int64_t filter = -1;
        bool bareGoFiresStandby = true;
        bool enabled = true;
        int gos = 0;
        std::string run;
        std::vector<std::pair<std::string, std::string>> lines = {};  // text, source
    };
    const std::string dev5 = "msc dev5";
    const std::vector<Row> rows = {
        {"GO by number, kept as text", msc(C::go, 5, "12.5"), -1, true, true, 0, "none | c6",
         {{"MSC GO cue 12.5  [dev 5, Lighting]", dev5}, {"GO 12.5 L6", dev5}}},
        {"TIMED GO", msc(C::timedGo, 5, "3"), -1, true, true, 0, "c4 | c3",
         {{"MSC TIMED GO cue 3  [dev 5, Lighting]", dev5}, {"GO 3 L3", dev5}}},
        {"an unknown cue never fires the standby cue", msc(C::fire, 5, "99"), -1, true, true, 0, "c1 |",
         {{"MSC FIRE cue 99  [dev 5, Lighting]", dev5},
          {"Cue \"99\" ei ole kasikirjoituksessa", dev5},
          {"cue 99 ei ole merkittyna - valmius ei liikkunut", dev5}}},
        {"an unknown cue, bare GO off", msc(C::fire, 5, "99"), -1, false, true, 0, "c1 |",
         {{"MSC FIRE cue 99  [dev 5, Lighting]", dev5}, {"Cue \"99\" ei ole kasikirjoituksessa", dev5}}},
        {"a bare GO fires the standby cue", msc(C::go, 0x7F), -1, true, true, 0, "c2 | c1",
         {{"MSC GO  [dev all, Lighting]", "msc dev127"}, {"GO 1 L1", "msc dev127"}}},
        {"a bare GO, bare GO off", msc(C::go, 0x7F), -1, false, true, 0, "c1 |",
         {{"MSC GO  [dev all, Lighting]", "msc dev127"}}},
        {"filtered out", msc(C::go, 3), 5, true, true, 0, "c1 |",
         {{"MSC GO  [dev 3, Lighting] - ohitettu (laitesuodatin 5)", "msc"}}},
        {"the filter's device", msc(C::go, 5), 5, true, true, 0, "c2 | c1",
         {{"MSC GO  [dev 5, Lighting]", dev5}, {"GO 1 L1", dev5}}},
        {"all-call passes the filter", msc(C::go, 0x7F), 5, true, true, 0, "c2 | c1",
         {{"MSC GO  [dev all, Lighting]", "msc dev127"}, {"GO 1 L1", "msc dev127"}}},
        {"LOAD moves the standby", msc(C::load, 5, "4"), -1, true, true, 0, "c4 |",
         {{"MSC LOAD cue 4  [dev 5, Lighting]", dev5}, {"STANDBY 4", dev5}}},
        {"LOAD without a cue", msc(C::load, 5), -1, true, true, 0, "c1 |", {{"MSC LOAD  [dev 5, Lighting]", dev5}}},
        {"ALL OFF resets", msc(C::allOff, 5), -1, true, true, 2, "c1 |",
         {{"MSC ALL OFF  [dev 5, Lighting]", dev5}, {"RESET - valmius alkuun", dev5}}},
        {"RESET resets", msc(C::reset, 5), -1, true, true, 2, "c1 |",
         {{"MSC RESET  [dev 5, Lighting]", dev5}, {"RESET - valmius alkuun", dev5}}},
        {"STOP is only logged", msc(C::stop, 5), -1, true, true, 2, "c3 | c1 c2",
         {{"MSC STOP  [dev 5, Lighting]", dev5}}},
        {"MSC switched off", msc(C::go, 5, "3"), -1, true, false, 0, "c1 |"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        setSettings([&](Settings& s) {
            s.mscDeviceFilter = row.filter;
            s.mscBareGoFiresStandby = row.bareGoFiresStandby;
            s.mscEnabled = row.enabled;
        });
        fresh(row.gos);
        midi->deliver(row.message);
        EXPECT_EQ(run(), row.run);
        std::vector<std::pair<std::string, std::string>> seen;
        for (const LogEntry& e : lines) seen.emplace_back(e.text, e.source);
        EXPECT_EQ(seen, row.lines);
    }
}

TEST_F(Hub, ForeignSysExIsLoggedShortWhateverTheSettings) {
    setSettings([](Settings& s) {
        s.midiEnabled = false;
        s.mscEnabled = false;
    });
    const auto bytes = [](std::size_t size) {
        std::vector<std::uint8_t> out{0xF0, 0x43, 0x10, 0x4C};
        out.resize(size - 1, 0x01);
        out.push_back(0xF7);
        return out;
    };
    const std::pair<std::size_t, std::string> rows[] = {
        {5, "SysEx (ei MSC): F0 43 10 4C F7"},
        {12, "SysEx (ei MSC): F0 43 10 4C 01 01 01 01 01 01 01 F7"},
        {13, "SysEx (ei MSC): F0 43 10 4C 01 01 01 01 01 01 01 01 \u2026"},
        {20, "SysEx (ei MSC): F0 43 10 4C 01 01 01 01 01 01 01 01 \u2026"},
    };
    for (const auto& [size, text] : rows) {
        fresh();
        midi->deliver(ForeignSysEx{bytes(size)});
        ASSERT_EQ(lines.size(), 1u) << size;
        EXPECT_EQ(lines[0].text, text);
        EXPECT_EQ(lines[0].source, "midi");
    }
}

}  // namespace
}  // namespace tallowmark
