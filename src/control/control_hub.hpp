#pragma once

// The single entry point of remote control: maps OSC addresses, MIDI note
// bindings and MIDI Show Control commands onto the cue engine or onto page
// commands, rate-limits OSC per sender and in all, and keeps the control log.
// Its input comes through two transports its owner hands it (the program's
// are systemControlTransports()). Main thread only.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "control/control_transport.hpp"
#include "control/msc.hpp"
#include "control/osc_codec.hpp"
#include "core/json_helpers.hpp"
#include "cues/cue_engine.hpp"
#include "settings/settings_store.hpp"

namespace tallowmark {

struct LogEntry {
    std::string time;  // local "HH:mm:ss"
    std::string source;
    std::string text;

    bool operator==(const LogEntry&) const = default;
};

Json toJson(const LogEntry& entry);

class ControlHub : public std::enable_shared_from_this<ControlHub> {
public:
    static constexpr std::size_t logCapacity = 300;
    // OSC messages admitted per one-second window from one host, and from all
    // hosts together but the desks the operator named: a flooding peer spends
    // its own share, never a desk's.
    static constexpr int oscPerWindow = 50;
    static constexpr int oscTotalPerWindow = 200;

    // The engine and the settings store must outlive the hub. A transport left
    // out hears nothing.
    static std::shared_ptr<ControlHub> create(CueEngine& engine, SettingsStore& settings,
                                              ControlTransports transports);

    std::function<void(std::int64_t value, bool relative)> onPageCommand;
    std::function<void(bool on)> onDimCommand;
    std::function<void(const LogEntry& entry)> onLog;
    std::function<void()> onStatus;
    std::function<void(int note, int velocity, int channel)> onRawNote;
    // A peer asked for the show's state (/tallowmark/state): its host and port.
    std::function<void(const std::string& host, std::uint16_t port)> onStateQuery;

    // Wires the engine's log and both transports; starts OSC when enabled and
    // MIDI whatever the settings say (they are applied per event). Called once.
    void start();
    // After a change of oscEnabled, oscPort or oscLocalOnly.
    void restartOSC();
    // {"oscListening", "oscPort", "oscError", "midiSources"} for the page.
    Json status() const;

    const std::deque<LogEntry>& log() const { return log_; }
    // One line of the control log, the newest 300 kept; told to onLog.
    void append(const std::string& text, const std::string& source);

private:
    ControlHub(CueEngine& engine, SettingsStore& settings, ControlTransports transports);
    // A fixed window: it begins with the first message after the last one expired.
    struct RateWindow {
        std::optional<std::int64_t> start;  // monotonic microseconds; none: distant past
        int count = 0;
        bool logged = false;  // the window's overflow line is written
    };
    void handleMessage(const ControlMessage& message);
    void handleOSC(const OSCMessage& message, const std::string& sender);
    void handleNote(int note, int velocity, int channel);
    void handleMSC(const MSC::Message& message);
    void handleForeignSysEx(const std::vector<std::uint8_t>& bytes);
    bool admitOSC(const std::string& sender);
    void startOSC();
    void handleStatus(const TransportStatus& status);
    void pageCommand(std::int64_t value, bool relative);

    CueEngine& engine_;
    SettingsStore& settings_;
    std::unique_ptr<ControlTransport> osc_;
    std::unique_ptr<ControlTransport> midi_;
    bool oscListening_ = false;
    std::optional<std::string> oscError_;
    std::deque<LogEntry> log_;
    RateWindow oscWindow_;  // all senders
    // Per host; pruned of expired windows whenever the shared window renews.
    std::unordered_map<std::string, RateWindow> oscHostWindows_;
};

}  // namespace tallowmark
