#include "control/control_hub.hpp"

#include <glib.h>

#include <algorithm>
#include <cstdio>
#include <variant>

#include "control/osc_addresses.hpp"
#include "core/system_log.hpp"

namespace tallowmark {

namespace {

std::string localClock() {
    GDateTime* now = g_date_time_new_now_local();
    gchar* text = g_date_time_format(now, "%H:%M:%S");
    std::string result = text ? text : "";
    g_free(text);
    g_date_time_unref(now);
    return result;
}

// "host:port" -> "host"; IPv6 hosts have colons of their own, the port comes last.
std::string hostOf(const std::string& sender) {
    const std::size_t colon = sender.rfind(':');
    return colon == std::string::npos ? sender : sender.substr(0, colon);
}

// Stands in for a transport the owner left out.
class IdleTransport final : public ControlTransport {
public:
    void start(const TransportOptions&) override {}
    void stop() override {}
};

std::unique_ptr<ControlTransport> orIdle(std::unique_ptr<ControlTransport> transport) {
    return transport ? std::move(transport) : std::make_unique<IdleTransport>();
}

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

template <class Hub, class... Args>
auto weakly(const std::shared_ptr<Hub>& hub, void (Hub::*method)(Args...)) {
    return [weak = std::weak_ptr<Hub>(hub), method](auto&&... args) {
        if (auto strong = weak.lock()) ((*strong).*method)(std::forward<decltype(args)>(args)...);
    };
}

}  // namespace

Json toJson(const LogEntry& entry) {
    return {{"time", entry.time}, {"source", entry.source}, {"text", entry.text}};
}

std::shared_ptr<ControlHub> ControlHub::create(CueEngine& engine, SettingsStore& settings,
                                               ControlTransports transports) {
    return std::shared_ptr<ControlHub>(new ControlHub(engine, settings, std::move(transports)));
}

ControlHub::ControlHub(CueEngine& engine, SettingsStore& settings, ControlTransports transports)
    : engine_(engine),
      settings_(settings),
      osc_(orIdle(std::move(transports.osc))),
      midi_(orIdle(std::move(transports.midi))) {}

void ControlHub::start() {
    auto self = shared_from_this();
    engine_.onLog = weakly(self, &ControlHub::append);
    osc_->onStatus = weakly(self, &ControlHub::handleStatus);
    osc_->onMessage = weakly(self, &ControlHub::handleMessage);
    if (settings_.settings().oscEnabled) startOSC();
    midi_->onMessage = weakly(self, &ControlHub::handleMessage);
    midi_->start({});
}

void ControlHub::startOSC() {
    const Settings& s = settings_.settings();
    osc_->start({std::clamp<std::int64_t>(s.oscPort, 0, 65535), s.oscLocalOnly, s.oscDeskHosts});
}

void ControlHub::restartOSC() {
    osc_->stop();
    oscListening_ = false;
    if (!settings_.settings().oscEnabled) {
        append("OSC pois kaytosta", "system");
        if (onStatus) onStatus();
        return;
    }
    startOSC();
}

Json ControlHub::status() const {
    return {{"oscListening", oscListening_},
            {"oscPort", settings_.settings().oscPort},
            {"oscError", oscError_.value_or("")},
            {"midiSources", midi_->sourceNames()}};
}

void ControlHub::handleStatus(const TransportStatus& status) {
    oscListening_ = status.listening;
    oscError_ = status.error;
    if (status.listening) {
        append("OSC kuuntelee porttia " + std::to_string(status.port), "system");
    } else if (status.error) {
        append("OSC ei kaynnisty portissa " + std::to_string(status.port) + ": " + *status.error, "system");
    }
    if (onStatus) onStatus();
}

void ControlHub::handleMessage(const ControlMessage& message) {
    std::visit(Overloaded{
                   [this](const OSCInput& in) { handleOSC(in.message, in.sender); },
                   [this](const NoteOn& in) { handleNote(in.note, in.velocity, in.channel); },
                   [this](const MSC::Message& in) { handleMSC(in); },
                   [this](const ForeignSysEx& in) { handleForeignSysEx(in.bytes); },
               },
               message);
}

void ControlHub::append(const std::string& text, const std::string& source) {
    log_.push_back(LogEntry{localClock(), source, text});
    while (log_.size() > logCapacity) log_.pop_front();
    if (onLog) onLog(log_.back());
}

bool ControlHub::admitOSC(const std::string& sender) {
    const std::int64_t now = g_get_monotonic_time();
    const auto expired = [now](const RateWindow& window) {
        return !window.start || now - *window.start >= G_USEC_PER_SEC;
    };
    // One line per window on the first refusal; later refusals are silent.
    const auto refuse = [this](RateWindow& window, int limit, const std::string& source, const std::string& suffix) {
        if (!window.logged) {
            window.logged = true;
            const std::string line = "yli " + std::to_string(limit) + " komentoa/s - ylimaaraiset pudotetaan";
            logSystem("OSC " + line + suffix);
            append(line, source);
        }
        return false;
    };

    if (expired(oscWindow_)) {
        oscWindow_ = {now, 0, false};
        // Bounded: only admitted messages make an entry, at most 200 a window
        // and one per desk.
        std::erase_if(oscHostWindows_, [&](const auto& entry) { return expired(entry.second); });
    }
    // A host, not a host and port: one machine sending from many ports (or a
    // fresh port for each message) still has one share.
    const std::string host = hostOf(sender);
    const auto& desks = settings_.settings().oscDeskHosts;
    const bool desk = std::ranges::find(desks, host) != desks.end();
    auto found = oscHostWindows_.find(host);
    if (found != oscHostWindows_.end()) {
        RateWindow& own = found->second;
        if (expired(own)) own = {now, 0, false};
        if (own.count >= oscPerWindow) return refuse(own, oscPerWindow, "osc " + sender, " (" + host + ")");
    }
    // A desk's share is its own: the other senders' traffic cannot spend it.
    if (!desk && oscWindow_.count >= oscTotalPerWindow) return refuse(oscWindow_, oscTotalPerWindow, "osc", "");
    if (found == oscHostWindows_.end()) found = oscHostWindows_.emplace(host, RateWindow{now, 0, false}).first;
    ++found->second.count;
    if (!desk) ++oscWindow_.count;
    return true;
}

void ControlHub::pageCommand(std::int64_t value, bool relative) {
    if (onPageCommand) onPageCommand(value, relative);
}

void ControlHub::handleOSC(const OSCMessage& message, const std::string& sender) {
    if (!settings_.settings().oscEnabled) return;
    if (!admitOSC(sender)) return;

    const std::string address = controlAddress(message.address);

    const std::string source = "osc " + sender;
    // A panel may ask every second: the answer goes back, the log stays quiet.
    if (address == "/state") {
        const std::size_t colon = sender.rfind(':');
        const auto port = colon == std::string::npos ? std::nullopt : strictInteger(sender.substr(colon + 1));
        if (onStateQuery && port && *port > 0 && *port <= 65535)
            onStateQuery(hostOf(sender), static_cast<std::uint16_t>(*port));
        return;
    }
    const std::optional<std::string> argument = message.firstAsString();
    append(argument ? message.address + " " + *argument : message.address, source);

    if (address == "/go" || address == "/") {
        if (argument && !argument->empty()) {
            if (engine_.hasCueNumber(*argument)) {
                engine_.fireCue(*argument, source);
                return;
            }
            // A desk that sends its own cue numbers fires standby by default;
            // the operator may want a stray number to fire nothing instead.
            if (settings_.settings().oscGoUnknownNumber == "ignore") {
                append("GO " + *argument + " ohitettu - numeroa ei ole kasikirjoituksessa", source);
                return;
            }
        }
        engine_.go(source);
    } else if (address == "/back" || address == "/prev" || address == "/previous") {
        engine_.back(source);
    } else if (address == "/reset") {
        engine_.reset(source);
    } else if (address == "/standby") {
        if (argument) engine_.standbyByNumber(*argument, source);
    } else if (address == "/cue") {
        if (argument) engine_.fireCue(*argument, source);
    } else if (address == "/page") {
        if (auto page = message.firstAsInt()) pageCommand(*page, false);
    } else if (address == "/page/next") {
        pageCommand(1, true);
    } else if (address == "/page/prev" || address == "/page/previous") {
        pageCommand(-1, true);
    } else if (address == "/dim") {
        const auto value = message.firstAsInt();
        if (onDimCommand) onDimCommand(!(value && *value == 0));
    } else {
        const auto parts = addressSegments(address);
        if (parts.size() == 2 && parts[0] == "page") {
            if (auto page = strictInteger(parts[1])) {
                pageCommand(*page, false);
                return;
            }
        } else if (parts.size() == 3 && parts[0] == "cue" && parts[2] == "go") {
            engine_.fireCue(parts[1], source);
            return;
        }
        append("tuntematon osoite: " + message.address, source);
    }
}

void ControlHub::handleNote(int note, int velocity, int channel) {
    if (onRawNote) onRawNote(note, velocity, channel);
    const Settings& s = settings_.settings();
    if (!s.midiEnabled) return;
    auto binding = std::find_if(s.midiMap.begin(), s.midiMap.end(), [&](const MIDIBinding& b) {
        return b.note == note && (!b.channel || *b.channel == channel);
    });
    if (binding == s.midiMap.end()) return;
    const std::string action = binding->action;  // the engine's callbacks may change the settings
    const std::string source = "midi ch" + std::to_string(channel + 1) + " n" + std::to_string(note);
    if (action == "go") {
        engine_.go(source);
    } else if (action == "back") {
        engine_.back(source);
    } else if (action == "reset") {
        engine_.reset(source);
    } else if (action == "pageNext") {
        append("PAGE +1", source);
        pageCommand(1, true);
    } else if (action == "pagePrev") {
        append("PAGE -1", source);
        pageCommand(-1, true);
    }
}

void ControlHub::handleMSC(const MSC::Message& message) {
    const Settings& s = settings_.settings();
    if (!s.mscEnabled) return;
    const std::int64_t filter = s.mscDeviceFilter;
    if (filter >= 0 && message.deviceID != MSC::allCallDevice && message.deviceID != filter) {
        append(message.summary() + " - ohitettu (laitesuodatin " + std::to_string(filter) + ")", "msc");
        return;
    }
    const bool bareGoFiresStandby = s.mscBareGoFiresStandby;
    const std::string source = "msc dev" + std::to_string(message.deviceID);
    append(message.summary(), source);
    switch (message.command) {
        case MSC::Command::go:
        case MSC::Command::timedGo:
        case MSC::Command::fire:
            if (message.cue) {
                // Unlike OSC, an unknown cue never fires the standby cue: the desk
                // asked for a specific cue.
                // Known beforehand: a GO the guard ignored is no unknown cue.
                const bool known = engine_.hasCueNumber(*message.cue);
                engine_.fireCue(*message.cue, source);
                if (!known && bareGoFiresStandby)
                    append("cue " + *message.cue + " ei ole merkittyna - valmius ei liikkunut", source);
            } else if (bareGoFiresStandby) {
                engine_.go(source);
            }
            break;
        case MSC::Command::load:
            if (message.cue) engine_.standbyByNumber(*message.cue, source);
            break;
        case MSC::Command::allOff:
        case MSC::Command::reset:
            engine_.reset(source);
            break;
        default:
            break;
    }
}

void ControlHub::handleForeignSysEx(const std::vector<std::uint8_t>& bytes) {
    std::string text = "SysEx (ei MSC): ";
    const std::size_t shown = std::min<std::size_t>(bytes.size(), 12);
    for (std::size_t i = 0; i < shown; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        if (i > 0) text += ' ';
        text += hex;
    }
    if (bytes.size() > 12) text += " \u2026";
    append(text, "midi");
}

}  // namespace tallowmark
