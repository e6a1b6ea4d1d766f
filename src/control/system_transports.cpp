// The program's control transports: the OSC server and the MIDI listener
// behind the hub's transport interface.
#include "control/control_transport.hpp"
#include "control/midi_listener.hpp"
#include "control/osc_addresses.hpp"
#include "control/osc_server.hpp"

namespace tallowmark {

namespace {

class OSCTransport final : public ControlTransport {
public:
    OSCTransport() {
        // The server delivers on the main thread and nothing after it is gone,
        // which it is before this object's members.
        server_.onMessage = [this](const OSCMessage& message, const std::string& sender) {
            if (onMessage) onMessage(OSCInput{message, sender});
        };
        server_.acceptsAddress = isControlAddress;
        server_.onStatusChange = [this](bool listening, std::uint16_t port, const std::optional<std::string>& error) {
            if (onStatus) onStatus(TransportStatus{listening, port, error});
        };
    }

    void start(const TransportOptions& options) override {
        server_.start(options.port, options.localOnly, options.deskHosts);
    }
    void stop() override { server_.stop(); }

private:
    OSCServer server_;
};

// The listener lives for the whole process and opens once; this transport
// only routes its events, and stops routing them when stopped or destroyed.
// Main thread only, like the listener's callbacks.
class MIDITransport final : public ControlTransport {
public:
    ~MIDITransport() override { detach(); }

    void start(const TransportOptions&) override {
        MIDIListener& midi = MIDIListener::shared();
        routing_ = this;
        // Read on the main thread when each posted event runs, so clearing them
        // drops events already on their way.
        midi.onNoteOn = [this](int note, int velocity, int channel) { deliver(NoteOn{note, velocity, channel}); };
        midi.onMSC = [this](const MSC::Message& message) { deliver(message); };
        midi.onRawSysEx = [this](const std::vector<std::uint8_t>& bytes) { deliver(ForeignSysEx{bytes}); };
        midi.start();
    }
    void stop() override { detach(); }
    std::vector<std::string> sourceNames() const override { return MIDIListener::shared().sourceNames(); }

private:
    void deliver(const ControlMessage& message) {
        if (onMessage) onMessage(message);
    }
    // A transport that no longer routes leaves a later one's routing alone.
    void detach() {
        if (routing_ != this) return;
        routing_ = nullptr;
        MIDIListener& midi = MIDIListener::shared();
        midi.onNoteOn = nullptr;
        midi.onMSC = nullptr;
        midi.onRawSysEx = nullptr;
    }

    static inline MIDITransport* routing_ = nullptr;  // the one the listener's events go to
};

}  // namespace

ControlTransports systemControlTransports() {
    return {std::make_unique<OSCTransport>(), std::make_unique<MIDITransport>()};
}

}  // namespace tallowmark
