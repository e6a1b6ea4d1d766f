#pragma once

// Where the control hub's input comes from: the OSC server over UDP and the
// MIDI listener in the program, in-memory transports in tests. The hub sets
// the two callbacks before start(); a transport calls them on the main thread
// only, in arrival order, and never after it is destroyed.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "control/msc.hpp"
#include "control/osc_codec.hpp"

namespace tallowmark {

// One decoded OSC message and who sent it ("host:port").
struct OSCInput {
    OSCMessage message;
    std::string sender;
};

// A MIDI note-on with a velocity above 0; channel 0…15.
struct NoteOn {
    int note = 0;
    int velocity = 0;
    int channel = 0;
};

// A complete System Exclusive message that is not MIDI Show Control.
struct ForeignSysEx {
    std::vector<std::uint8_t> bytes;
};

using ControlMessage = std::variant<OSCInput, NoteOn, MSC::Message, ForeignSysEx>;

// A listening report: (true, port, none) when listening; (false, port, error)
// when it could not start or failed; (false, port, none) after a stop.
struct TransportStatus {
    bool listening = false;
    std::uint16_t port = 0;
    std::optional<std::string> error;
    bool operator==(const TransportStatus&) const = default;
};

// Where to listen; a transport without ports ignores them.
struct TransportOptions {
    std::int64_t port = 0;
    bool localOnly = false;
    std::vector<std::string> deskHosts{};  // numeric hosts with a share of their own
    bool operator==(const TransportOptions&) const = default;
};

class ControlTransport {
public:
    virtual ~ControlTransport() = default;

    std::function<void(const ControlMessage& message)> onMessage;
    std::function<void(const TransportStatus& status)> onStatus;

    // (Re)starts; reports may come at once or later through onStatus.
    virtual void start(const TransportOptions& options) = 0;
    // No more messages reach onMessage until the next start.
    virtual void stop() = 0;
    // Names of the current input sources, for the operator.
    virtual std::vector<std::string> sourceNames() const { return {}; }
};

struct ControlTransports {
    std::unique_ptr<ControlTransport> osc;
    std::unique_ptr<ControlTransport> midi;
};

// The program's pair: an OSC server of its own over UDP, and the process-wide
// MIDI listener over the ALSA sequencer.
ControlTransports systemControlTransports();

}  // namespace tallowmark
