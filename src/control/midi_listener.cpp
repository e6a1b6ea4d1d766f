#include "control/midi_listener.hpp"

#include <alsa/asoundlib.h>

#include <mutex>
#include <thread>

#include "control/midi_byte_parser.hpp"
#include "core/main_queue.hpp"
#include "core/system_log.hpp"

namespace tallowmark {

namespace {

void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

struct MIDIListener::Impl {
    std::mutex parseMutex;  // the parser keeps SysEx state between packets
    MIDIByteParser parser;
    bool started = false;

    snd_seq_t* seq = nullptr;
    int inputPort = -1;
    mutable std::mutex sourcesMutex;
    std::vector<std::string> sources;
    std::thread thread;

    void connectAllSources();
    void run();
    void deliver(std::span<const std::uint8_t> bytes) {
        std::scoped_lock lock(parseMutex);
        parser.parse(bytes);
    }
};

MIDIListener& MIDIListener::shared() {
    // Never destroyed: the input thread may be blocked in poll at exit.
    static MIDIListener* instance = new MIDIListener();
    return *instance;
}

MIDIListener::MIDIListener() : impl_(std::make_unique<Impl>()) {
    // Events leave the input thread by a post; the callbacks are read on the
    // main thread when the post runs, so the hub may set them at any time.
    impl_->parser.onNoteOn = [this](int note, int velocity, int channel) {
        postToMain([this, note, velocity, channel] {
            if (onNoteOn) onNoteOn(note, velocity, channel);
        });
    };
    impl_->parser.onSysEx = [this](const std::vector<std::uint8_t>& bytes) {
        if (auto message = MSC::decode(bytes)) {
            postToMain([this, message = *message] {
                if (onMSC) onMSC(message);
            });
        } else {
            postToMain([this, bytes] {
                if (onRawSysEx) onRawSysEx(bytes);
            });
        }
    };
}

void MIDIListener::deliverPacket(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) impl_->deliver(bytes);
}

std::vector<std::string> MIDIListener::sourceNames() const {
    std::scoped_lock lock(impl_->sourcesMutex);
    return impl_->sources;
}

void MIDIListener::start() {
    Impl& d = *impl_;
    if (d.started) return;
    d.started = true;

    // alsa-lib prints its own errors to stderr; ours go to the system log instead.
    snd_lib_error_set_handler(ignoreAlsaError);
    int status = snd_seq_open(&d.seq, "default", SND_SEQ_OPEN_INPUT, 0);
    if (status < 0) {
        d.seq = nullptr;
        logSystem("MIDIListener - client creation failed (" + std::to_string(status) + ")");
        return;
    }
    snd_seq_set_client_name(d.seq, "TALLOWMARK");
    d.inputPort = snd_seq_create_simple_port(
        d.seq, "TALLOWMARK In", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (d.inputPort < 0) {
        logSystem("MIDIListener - input port creation failed (" + std::to_string(d.inputPort) + ")");
        return;
    }
    // The announce port tells us about ports that appear later.
    snd_seq_connect_from(d.seq, d.inputPort, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    d.connectAllSources();
    d.thread = std::thread([&d] { d.run(); });
    d.thread.detach();
}

void MIDIListener::Impl::connectAllSources() {
    const int self = snd_seq_client_id(seq);
    std::vector<std::string> names;
    snd_seq_client_info_t* client;
    snd_seq_port_info_t* port;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        const int id = snd_seq_client_info_get_client(client);
        if (id == self || id == SND_SEQ_CLIENT_SYSTEM) continue;
        snd_seq_port_info_set_client(port, id);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq, port) >= 0) {
            const unsigned caps = snd_seq_port_info_get_capability(port);
            const unsigned wanted = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
            if ((caps & wanted) != wanted || (caps & SND_SEQ_PORT_CAP_NO_EXPORT)) continue;
            // Connecting an already connected port fails harmlessly.
            snd_seq_connect_from(seq, inputPort, id, snd_seq_port_info_get_port(port));
            names.emplace_back(snd_seq_port_info_get_name(port));
        }
    }
    std::scoped_lock lock(sourcesMutex);
    sources = std::move(names);
}

void MIDIListener::Impl::run() {
    snd_midi_event_t* decoder = nullptr;
    if (snd_midi_event_new(256, &decoder) < 0) {
        logSystem("MIDIListener - event decoder creation failed");
        return;
    }
    // Every event keeps its own status byte: the byte parser does not follow
    // running status.
    snd_midi_event_no_status(decoder, 1);
    std::uint8_t bytes[256];
    for (;;) {
        snd_seq_event_t* event = nullptr;
        const int result = snd_seq_event_input(seq, &event);  // blocks
        if (result == -ENOSPC) continue;  // input overrun: events were lost, go on
        if (result < 0 || !event) continue;
        switch (event->type) {
            case SND_SEQ_EVENT_PORT_START:
            case SND_SEQ_EVENT_CLIENT_START:
            case SND_SEQ_EVENT_PORT_EXIT:
            case SND_SEQ_EVENT_CLIENT_EXIT:
                connectAllSources();
                break;
            case SND_SEQ_EVENT_SYSEX:
                // SysEx data may arrive in chunks; the byte parser reassembles them.
                deliver({static_cast<const std::uint8_t*>(event->data.ext.ptr), event->data.ext.len});
                break;
            default: {
                const long length = snd_midi_event_decode(decoder, bytes, sizeof bytes, event);
                if (length > 0) deliver({bytes, static_cast<std::size_t>(length)});
                break;
            }
        }
    }
}

}  // namespace tallowmark
