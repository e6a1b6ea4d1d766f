// The remote-control self-checks: OSC over every local address and MIDI Show
// Control over the sequencer (or its decoder alone), each driving a cue engine
// on a scratch demo through the real control hub.
#include <alsa/asoundlib.h>
#include <glib.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/self_checks.hpp"
#include "control/control_hub.hpp"
#include "control/midi_listener.hpp"
#include "control/msc.hpp"
#include "control/osc_client.hpp"
#include "control/osc_server.hpp"
#include "core/main_queue.hpp"
#include "cues/cue_engine.hpp"
#include "demo/demo_script_maker.hpp"
#include "settings/settings_store.hpp"

namespace tallowmark {

namespace {

// How long a command may take to show in the engine: a local datagram or
// sequencer event arrives in well under a millisecond, so this is only hit
// when it never arrives.
constexpr int answerTimeoutMs = 2000;
// A machine with dozens of container interfaces is still checked in seconds.
constexpr std::size_t maxCheckedAddresses = 24;
// The checks fire cues up to this index of the script.
constexpr std::size_t cuesNeeded = 10;
const std::string checkSource = "itsetarkistus";

// Runs the main context, where the OSC server and the MIDI input post, until
// `done` holds or the time is up.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs = answerTimeoutMs) {
    const gint64 deadline = g_get_monotonic_time() + gint64(timeoutMs) * 1000;
    while (!done()) {
        if (g_get_monotonic_time() >= deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
    }
    return true;
}

// The operator's settings with everything a check needs switched on. The GO
// guard is off: the checks send GOs far faster than any operator.
Settings checkSettings(const Settings& configured) {
    Settings settings = configured;
    settings.oscEnabled = true;
    settings.oscLocalOnly = false;
    settings.oscGoUnknownNumber = "go";
    settings.goGuardMs = 0;
    settings.mscEnabled = true;
    settings.mscDeviceFilter = -1;
    settings.mscBareGoFiresStandby = true;
    return settings;
}

// A cue engine on the scratch demo behind the real hub, with settings of its
// own in memory: the operator's settings file is read, never written.
class CheckedShow {
public:
    CheckedShow(const Settings& settings, ControlTransports transports) : settings_(true) {
        settings_.setSettings(settings);
        engine_.setGoGuard([this] { return settings_.settings().goGuardMs; });
        hub_ = ControlHub::create(engine_, settings_, std::move(transports));
        hub_->onPageCommand = [this](std::int64_t value, bool relative) { pages_.push_back({value, relative}); };
        hub_->onStatus = [this] { ++statusReports_; };
    }
    ~CheckedShow() {
        hub_.reset();  // stops the transports
        drainMainQueue();  // what they posted meanwhile finds no hub and does nothing
    }
    CheckedShow(const CheckedShow&) = delete;
    CheckedShow& operator=(const CheckedShow&) = delete;

    // False when the demo's marks did not load with enough cues to check with.
    bool load(const std::string& pdf) {
        engine_.loadSidecar(pdf);
        return engine_.ordered().size() >= cuesNeeded;
    }
    void start() { hub_->start(); }

    SettingsStore& settings() { return settings_; }
    CueEngine& engine() { return engine_; }
    ControlHub& hub() { return *hub_; }
    const std::vector<std::pair<std::int64_t, bool>>& pages() const { return pages_; }
    void clearPages() { pages_.clear(); }
    std::size_t statusReports() const { return statusReports_; }

    const Cue& cue(std::size_t index) const { return engine_.ordered().at(index); }
    bool fired(std::size_t index) const { return engine_.fired().contains(cue(index).id); }
    bool standbyAt(std::size_t index) const { return engine_.standbyID() == cue(index).id; }
    bool freshRun() const { return engine_.fired().empty() && standbyAt(0); }

    // The control log's last line, to tell the technician where a command stopped.
    std::string lastLogLine() const {
        return hub_->log().empty() ? std::string("-") : hub_->log().back().source + ": " + hub_->log().back().text;
    }
    bool logHas(const std::string& text) const {
        return std::ranges::any_of(hub_->log(),
                                   [&](const LogEntry& e) { return e.text.find(text) != std::string::npos; });
    }

private:
    SettingsStore settings_;
    CueEngine engine_;
    std::shared_ptr<ControlHub> hub_;  // after the engine: goes before the engine it drives
    std::vector<std::pair<std::int64_t, bool>> pages_;
    std::size_t statusReports_ = 0;
};

// One command of a check: how it is sent and what the show must then show.
struct Step {
    std::string command;
    std::string expected;
    std::function<void()> send;
    std::function<bool()> answered;
    bool changesRun = true;  // the engine must report a change, not merely be in the state
};

// Sends each step and waits for its answer; a step that goes unanswered ends
// the rest, which would only fail the same way. True when every step answered.
bool runSteps(CheckReport& report, CheckedShow& show, const std::string& via, const std::vector<Step>& steps) {
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        const std::uint64_t before = show.engine().changeCount();
        step.send();
        const bool answered = pumpUntil([&] {
            return (!step.changesRun || show.engine().changeCount() > before) && step.answered();
        });
        const std::string what = via + ": " + step.command + " - " + step.expected;
        if (!report.check(answered, what,
                          "ei vastausta " + std::to_string(answerTimeoutMs / 1000) +
                              " sekunnissa (viimeisin lokirivi: " + show.lastLogLine() + ")")) {
            if (i + 1 < steps.size()) report.note(via + ": loput " + std::to_string(steps.size() - i - 1) +
                                                  " komentoa ohitettu");
            return false;
        }
    }
    return true;
}

// --- OSC ---

struct LocalAddress {
    std::string host;  // numeric; a link-local IPv6 address carries its "%interface"
    std::string interface;
    bool loopback = false;
    bool linkLocal = false;
};

// The addresses of every interface that is up, loopback first; 127.0.0.1
// always, so a machine that lists nothing is still checked over loopback.
std::vector<LocalAddress> localAddresses() {
    std::vector<LocalAddress> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
            if (!entry->ifa_addr || !(entry->ifa_flags & IFF_UP)) continue;
            const int family = entry->ifa_addr->sa_family;
            if (family != AF_INET && family != AF_INET6) continue;
            const socklen_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
            char host[NI_MAXHOST];
            if (getnameinfo(entry->ifa_addr, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) continue;
            LocalAddress address{host, entry->ifa_name ? entry->ifa_name : "", (entry->ifa_flags & IFF_LOOPBACK) != 0};
            if (family == AF_INET6) {
                const auto* v6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
                address.linkLocal = IN6_IS_ADDR_LINKLOCAL(&v6->sin6_addr);
            }
            if (std::ranges::none_of(found, [&](const LocalAddress& a) { return a.host == address.host; }))
                found.push_back(std::move(address));
        }
        freeifaddrs(list);
    }
    if (std::ranges::none_of(found, [](const LocalAddress& a) { return a.host == "127.0.0.1"; }))
        found.insert(found.begin(), LocalAddress{"127.0.0.1", "lo", true});
    std::stable_partition(found.begin(), found.end(), [](const LocalAddress& a) { return a.loopback; });
    return found;
}

// A UDP port no one holds at this moment, both families where the host has IPv6.
std::optional<std::uint16_t> freeUdpPort() {
    for (const int family : {AF_INET6, AF_INET}) {
        const int fd = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) continue;
        sockaddr_storage address{};
        socklen_t length = 0;
        if (family == AF_INET6) {
            const int off = 0;
            setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
            auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
            v6.sin6_family = AF_INET6;
            v6.sin6_addr = in6addr_any;
            length = sizeof v6;
        } else {
            auto& v4 = reinterpret_cast<sockaddr_in&>(address);
            v4.sin_family = AF_INET;
            v4.sin_addr.s_addr = htonl(INADDR_ANY);
            length = sizeof v4;
        }
        std::optional<std::uint16_t> port;
        if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port = ntohs(family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(address).sin6_port
                                            : reinterpret_cast<const sockaddr_in&>(address).sin_port);
        }
        close(fd);
        if (port) return port;
    }
    return std::nullopt;
}

// Starts or restarts the hub's OSC server and waits for its report; the error
// when it did not start. A failed start leaves its error in the hub's status,
// so only a report made after this start counts.
std::optional<std::string> oscStartError(CheckedShow& show, const std::function<void()>& start) {
    const std::size_t before = show.statusReports();
    start();
    if (!pumpUntil([&] { return show.statusReports() > before; }))
        return std::string("palvelin ei ilmoittanut tilaansa");
    const Json status = show.hub().status();
    if (status.value("oscListening", false)) return std::nullopt;
    const std::string error = status.value("oscError", std::string());
    return error.empty() ? std::string("palvelin pysahtyi") : error;
}

// Starts the hub's OSC server on the configured port, or on a free one when
// that is busy or unusable. The port listened on; none when nothing started.
std::optional<std::uint16_t> startOSC(CheckReport& report, CheckedShow& show, std::int64_t configuredPort) {
    const bool valid = configuredPort >= 1 && configuredPort <= 65535;
    if (valid) {
        const std::optional<std::string> error = oscStartError(show, [&] { show.start(); });
        if (!error) {
            report.check(true, "OSC-palvelin kuuntelee asetusten porttia " + std::to_string(configuredPort));
            return static_cast<std::uint16_t>(configuredPort);
        }
        if (*error == g_strerror(EADDRINUSE)) {
            report.note("portti " + std::to_string(configuredPort) +
                        " on jo kaytossa (ohjelma on luultavasti auki) - tarkistukset tehdaan vapaalla portilla");
        } else {
            report.check(false, "OSC-palvelin asetusten portissa " + std::to_string(configuredPort), *error);
        }
    } else {
        report.check(false, "asetusten OSC-portti",
                     std::to_string(configuredPort) +
                         " ei ole kelvollinen portti (1-65535); poyta ei tavoita ohjelmaa");
    }
    const std::optional<std::uint16_t> free = freeUdpPort();
    if (!report.check(free.has_value(), "vapaa UDP-portti tarkistuksille", "yhtaan porttia ei saatu"))
        return std::nullopt;
    Settings settings = show.settings().settings();
    settings.oscPort = *free;
    show.settings().setSettings(settings);
    const std::optional<std::string> error = oscStartError(show, [&] {
        if (valid) show.hub().restartOSC();
        else show.start();
    });
    if (!report.check(!error, "OSC-palvelin kuuntelee tarkistusporttia " + std::to_string(*free), error.value_or("")))
        return std::nullopt;
    return free;
}

OSCMessage oscMessage(std::string address, std::optional<OSCArgument> argument = std::nullopt) {
    OSCMessage message{std::move(address), {}};
    if (argument) message.arguments.push_back(std::move(*argument));
    return message;
}

// Every kind of command a desk sends, to one address; the run starts fresh.
bool oscRound(CheckReport& report, CheckedShow& show, const LocalAddress& address, std::uint16_t port) {
    show.engine().reset(checkSource);
    show.clearPages();
    const auto send = [&](OSCMessage message) {
        return [&address, port, message = std::move(message)] {
            OSCClient::shared().send(message, address.host, port);
        };
    };
    const Cue& first = show.cue(0);
    const Cue& byArgument = show.cue(3);
    const Cue& byAddress = show.cue(5);
    const Cue& standby = show.cue(8);
    const std::vector<Step> steps = {
        {"/go", "isku " + first.number + " laukesi", send(oscMessage("/go")),
         [&] { return show.fired(0) && show.standbyAt(1); }},
        {"/cue " + byArgument.number, "isku " + byArgument.number + " laukesi",
         send(oscMessage("/cue", std::string(byArgument.number))), [&] { return show.fired(3) && show.standbyAt(4); }},
        {"/cue/" + byAddress.number + "/go", "isku " + byAddress.number + " laukesi",
         send(oscMessage("/cue/" + byAddress.number + "/go")), [&] { return show.fired(5) && show.standbyAt(6); }},
        {"/standby " + standby.number, "valmiina isku " + standby.number,
         send(oscMessage("/standby", std::string(standby.number))), [&] { return show.standbyAt(8); }},
        {"/back", "valmius palasi iskuun " + show.cue(7).number, send(oscMessage("/back")),
         [&] { return show.standbyAt(7) && !show.fired(7); }},
        {"/page 3", "sivukomento sivulle 3", send(oscMessage("/page", std::int32_t{3})),
         [&] { return show.pages() == std::vector<std::pair<std::int64_t, bool>>{{3, false}}; }, false},
        {"/reset", "valmius alkuun, mitaan ei laukaistu", send(oscMessage("/reset")),
         [&] { return show.freshRun(); }},
    };
    std::string via = address.host;
    // A link-local address already names its interface.
    if (!address.interface.empty() && address.host.find('%') == std::string::npos)
        via += " (" + address.interface + ")";
    return runSteps(report, show, via, steps);
}

// --- MIDI Show Control ---

// A sequencer client of the check's own whose one source port is connected to
// this process's listener alone. The port offers no subscriptions and is not
// exported, so a program running beside the check never hears these GOs.
class SequencerSource {
public:
    SequencerSource() = default;
    ~SequencerSource() {
        if (seq_) snd_seq_close(seq_);
    }
    SequencerSource(const SequencerSource&) = delete;
    SequencerSource& operator=(const SequencerSource&) = delete;

    // False without a sequencer (error() empty) or when the port could not be
    // connected (error() says why).
    bool open() {
        if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0) {
            seq_ = nullptr;
            return false;
        }
        snd_seq_set_client_name(seq_, "TALLOWMARK itsetarkistus");
        port_ = snd_seq_create_simple_port(seq_, "MSC-tarkistus", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_NO_EXPORT,
                                           SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (port_ < 0) return fail("lahdeporttia ei voitu luoda (" + std::string(snd_strerror(port_)) + ")");
        if (!findListener()) return fail("taman ohjelman MIDI-tuloa \"TALLOWMARK In\" ei loytynyt");
        if (const int status = snd_seq_connect_to(seq_, port_, listenerClient_, listenerPort_); status < 0)
            return fail("lahdeporttia ei voitu kytkea MIDI-tuloon (" + std::string(snd_strerror(status)) + ")");
        return true;
    }
    // One SysEx event to the connected listener.
    bool send(const std::vector<std::uint8_t>& bytes) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_source(&event, port_);
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        snd_seq_ev_set_sysex(&event, bytes.size(), const_cast<std::uint8_t*>(bytes.data()));
        return snd_seq_event_output_direct(seq_, &event) >= 0;
    }
    const std::string& error() const { return error_; }

private:
    bool fail(std::string why) {
        error_ = std::move(why);
        return false;
    }
    // This process's listener port. Another running copy has one of the same
    // name; a kernel that does not tell the owner's pid leaves a lone one to go by.
    bool findListener() {
        snd_seq_client_info_t* client;
        snd_seq_port_info_t* port;
        snd_seq_client_info_alloca(&client);
        snd_seq_port_info_alloca(&port);
        snd_seq_client_info_set_client(client, -1);
        std::vector<std::pair<int, int>> named;  // client, pid
        while (snd_seq_query_next_client(seq_, client) >= 0) {
            if (std::strcmp(snd_seq_client_info_get_name(client), "TALLOWMARK") == 0)
                named.emplace_back(snd_seq_client_info_get_client(client), snd_seq_client_info_get_pid(client));
        }
        const auto ours = std::ranges::find_if(named, [](const auto& c) { return c.second == getpid(); });
        int id = -1;
        if (ours != named.end()) id = ours->first;
        else if (named.size() == 1 && named.front().second < 0) id = named.front().first;
        if (id < 0) return false;
        snd_seq_port_info_set_client(port, id);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq_, port) >= 0) {
            if (std::strcmp(snd_seq_port_info_get_name(port), "TALLOWMARK In") != 0) continue;
            listenerClient_ = id;
            listenerPort_ = snd_seq_port_info_get_port(port);
            return true;
        }
        return false;
    }

    snd_seq_t* seq_ = nullptr;
    int port_ = -1;
    int listenerClient_ = -1;
    int listenerPort_ = -1;
    std::string error_;
};

std::vector<std::uint8_t> mscBytes(MSC::Command command, std::optional<std::string> cue = std::nullopt,
                                   std::optional<std::string> list = std::nullopt) {
    MSC::Message message;
    message.command = command;  // all-call device, lighting: past any device filter
    message.cue = std::move(cue);
    message.list = std::move(list);
    return MSC::encode(message);
}

}  // namespace

int oscSelfCheck(std::FILE* out) {
    CheckReport report(out);
    // Read for its port and switches only: nothing here writes the operator's file.
    const SettingsStore configured(SettingsStore::defaultFileURL());
    const Settings& user = configured.settings();
    if (!user.oscEnabled)
        report.note("OSC on asetuksissa pois paalta - ohjelma ei kuuntele ennen kuin se otetaan kayttoon");
    if (user.oscLocalOnly)
        report.note("asetus \"OSC from this computer only\" on paalla - ohjelma kuuntelee vain osoitetta 127.0.0.1, "
                    "poyta toiselta koneelta ei tavoita sita");

    ScratchDemo demo;
    if (!report.check(!demo.pdf().empty(), "demokasikirjoitus valiaikaiskansioon", demo.error()))
        return report.finish();
    ControlTransports transports = systemControlTransports();
    transports.midi.reset();  // OSC alone: the MIDI input has a check of its own
    CheckedShow show(checkSettings(user), std::move(transports));
    if (!report.check(show.load(demo.pdf()), "demon iskut ladattu", "alle " + std::to_string(cuesNeeded) + " iskua"))
        return report.finish();

    // The check's senders are forgotten soon after it ends, not after half a minute.
    struct IdleTimeout {
        double saved = OSCServer::idleTimeout();
        IdleTimeout() { OSCServer::setIdleTimeout(1); }
        ~IdleTimeout() { OSCServer::setIdleTimeout(saved); }
    } idleTimeout;

    const std::optional<std::uint16_t> port = startOSC(report, show, user.oscPort);
    if (!port) return report.finish();

    std::vector<LocalAddress> addresses = localAddresses();
    if (addresses.size() > maxCheckedAddresses) {
        report.note(std::to_string(addresses.size() - maxCheckedAddresses) + " osoitetta jatettiin tarkistamatta");
        addresses.resize(maxCheckedAddresses);
    }
    std::vector<std::string> reachable;
    for (const LocalAddress& address : addresses) {
        const bool passed = oscRound(report, show, address, *port);
        if (passed && !address.loopback && !address.linkLocal) reachable.push_back(address.host);
    }

    if (user.oscPort < 1 || user.oscPort > 65535) {
        report.info("korjaa asetusten OSC-portti, niin poyta tavoittaa ohjelman");
        return report.finish();
    }
    const std::string deskPort = std::to_string(user.oscPort);
    if (user.oscLocalOnly || reachable.empty()) {
        report.info("poyta lahettaa osoitteeseen 127.0.0.1 porttiin " + deskPort + " (vain tama kone)");
    } else {
        for (const std::string& host : reachable)
            report.info("poyta lahettaa osoitteeseen " + host + " porttiin " + deskPort);
    }
    report.info("komennot: /go, /back, /reset, /cue <numero>, /cue/<numero>/go, /standby <numero>, /page <sivu> "
                "(myos /tallowmark-alkuisina)");
    return report.finish();
}

int mscSelfCheck(std::FILE* out) {
    CheckReport report(out);
    const SettingsStore configured(SettingsStore::defaultFileURL());
    const Settings& user = configured.settings();
    if (!user.mscEnabled) report.note("MSC on asetuksissa pois paalta - ohjelma ohittaa MSC-komennot");
    if (user.mscDeviceFilter >= 0)
        report.note("asetusten laitesuodatin " + std::to_string(user.mscDeviceFilter) +
                    ": ohjelma kuuntelee vain tata laitetta ja kaikille osoitettuja (7F) viesteja");
    if (!user.mscBareGoFiresStandby)
        report.note("asetusten mukaan GO ilman iskun numeroa ei laukaise valmiina olevaa iskua");

    ScratchDemo demo;
    if (!report.check(!demo.pdf().empty(), "demokasikirjoitus valiaikaiskansioon", demo.error()))
        return report.finish();
    ControlTransports transports = systemControlTransports();
    transports.osc.reset();
    Settings settings = checkSettings(user);
    settings.oscEnabled = false;
    CheckedShow show(settings, std::move(transports));
    if (!report.check(show.load(demo.pdf()), "demon iskut ladattu", "alle " + std::to_string(cuesNeeded) + " iskua"))
        return report.finish();
    show.start();  // opens the process's MIDI listener

    SequencerSource sequencer;
    std::function<void(const std::vector<std::uint8_t>&)> deliver;
    std::string via;
    if (sequencer.open()) {
        report.check(true, "ALSA-lahdeportti kytketty taman ohjelman MIDI-tuloon");
        via = "ALSA";
        deliver = [&sequencer](const std::vector<std::uint8_t>& bytes) { sequencer.send(bytes); };
    } else {
        if (!sequencer.error().empty()) report.check(false, "ALSA-lahdeportti", sequencer.error());
        else report.note("ALSA-sekvensseria ei ole - tarkistetaan vain MSC-viestien purku");
        via = "purku";
        deliver = [](const std::vector<std::uint8_t>& bytes) { MIDIListener::shared().deliverPacket(bytes); };
    }
    const auto send = [&deliver](std::vector<std::uint8_t> bytes) {
        return [&deliver, bytes = std::move(bytes)] { deliver(bytes); };
    };

    show.engine().reset(checkSource);
    const std::string go3 = show.cue(3).number, go5 = show.cue(5).number, load8 = show.cue(8).number;
    const std::string go7 = show.cue(7).number, lost2 = show.cue(2).number;
    // A SysEx cut off before its F7 must be dropped whole: the next message's F0 ends it.
    std::vector<std::uint8_t> cutOff = mscBytes(MSC::Command::go, lost2);
    cutOff.pop_back();
    const std::vector<std::uint8_t> unknownCommand = {0xF0, 0x7F, 0x7F, 0x02, 0x01, 0x7E, 0xF7};
    std::uint64_t changesBeforeRefusal = 0;
    const std::vector<Step> steps = {
        {"MSC GO", "valmiina ollut isku " + show.cue(0).number + " laukesi", send(mscBytes(MSC::Command::go)),
         [&] { return show.fired(0) && show.standbyAt(1); }},
        {"MSC GO " + go3, "isku " + go3 + " laukesi", send(mscBytes(MSC::Command::go, go3)),
         [&] { return show.fired(3) && show.standbyAt(4); }},
        {"MSC GO " + go5 + " lista 1", "isku " + go5 + " laukesi listalta 1",
         send(mscBytes(MSC::Command::go, go5, "1")),
         [&] { return show.fired(5) && show.logHas("MSC GO cue " + go5 + " list 1"); }},
        {"MSC LOAD " + load8, "valmiina isku " + load8, send(mscBytes(MSC::Command::load, load8)),
         [&] { return show.standbyAt(8); }},
        {"katkennut SysEx ja MSC GO " + go7, "vain isku " + go7 + " laukesi",
         [&] {
             deliver(cutOff);
             deliver(mscBytes(MSC::Command::go, go7));
         },
         [&] { return show.fired(7) && !show.fired(2); }},
        {"viallinen SysEx (tuntematon komento 7E)", "hylatty, ajo ennallaan",
         [&] {
             changesBeforeRefusal = show.engine().changeCount();
             deliver(unknownCommand);
         },
         [&] {
             return show.logHas("SysEx (ei MSC): F0 7F 7F 02 01 7E F7") &&
                    show.engine().changeCount() == changesBeforeRefusal;
         },
         false},
        {"MSC RESET", "valmius alkuun, mitaan ei laukaistu", send(mscBytes(MSC::Command::reset)),
         [&] { return show.freshRun(); }},
    };
    runSteps(report, show, via, steps);
    return report.finish();
}

ScratchDemo::ScratchDemo() {
    GError* error = nullptr;
    gchar* folder = g_dir_make_tmp("tallowmark-check-XXXXXX", &error);
    if (!folder) {
        error_ = std::string("valiaikaiskansiota ei voitu luoda: ") + (error ? error->message : "?");
        g_clear_error(&error);
        return;
    }
    folder_ = folder;
    g_free(folder);
    // The maker's progress lines are for the one who asked for the demo; here
    // they only explain a failure.
    char* printed = nullptr;
    std::size_t size = 0;
    std::FILE* sink = open_memstream(&printed, &size);
    if (!sink) {
        error_ = "demokasikirjoitusta ei voitu kirjoittaa: muisti loppui";
        return;
    }
    DemoScriptMaker maker(sink);
    const int status = maker.run(folder_);
    std::fclose(sink);
    const std::string text(printed, size);
    std::free(printed);
    if (status == 0 && maker.lastWrittenPDF()) {
        pdf_ = maker.lastWrittenPDF()->string();
    } else {
        error_ = "demokasikirjoitusta ei voitu kirjoittaa: " + text.substr(0, text.find('\n'));
    }
}

ScratchDemo::~ScratchDemo() {
    if (folder_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

}  // namespace tallowmark
