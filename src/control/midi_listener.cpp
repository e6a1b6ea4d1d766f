#include "control/midi_listener.hpp"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>

#include "control/midi_byte_parser.hpp"
#include "core/main_queue.hpp"
#include "core/system_log.hpp"

namespace tallowmark {

namespace {

void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

bool InputThread::start(std::vector<int> descriptors, std::function<void()> ready) {
    if (thread_.joinable()) return false;
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) {
        logSystem(std::string("MIDIListener - wake-up descriptor creation failed: ") + std::strerror(errno));
        return false;
    }
    waiting_ = true;
    try {
        thread_ = std::thread([this, descriptors = std::move(descriptors), ready = std::move(ready)] {
            run(descriptors, ready);
        });
    } catch (const std::system_error& error) {
        waiting_ = false;
        close(wake_);
        wake_ = -1;
        logSystem(std::string("MIDIListener - input thread creation failed: ") + error.what());
        return false;
    }
    return true;
}

void InputThread::stop() {
    if (!thread_.joinable()) return;
    const std::uint64_t one = 1;
    // Fails only on a full counter, which one write per stop never reaches.
    if (write(wake_, &one, sizeof one) != static_cast<ssize_t>(sizeof one))
        logSystem(std::string("MIDIListener - wake-up failed: ") + std::strerror(errno));
    thread_.join();
    close(wake_);
    wake_ = -1;
    waiting_ = false;
}

void InputThread::run(const std::vector<int>& descriptors, const std::function<void()>& ready) {
    std::vector<pollfd> fds;
    for (const int fd : descriptors) fds.push_back({fd, POLLIN, 0});
    fds.push_back({wake_, POLLIN, 0});
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            logSystem(std::string("MIDIListener - poll failed: ") + std::strerror(errno));
            break;
        }
        if (fds.back().revents) break;  // stop()
        bool input = false, failed = false;
        for (std::size_t i = 0; i + 1 < fds.size(); ++i) {
            input = input || (fds[i].revents & POLLIN);
            // A hang-up with nothing left to read would wake the wait forever.
            failed = failed || (fds[i].revents & (POLLERR | POLLNVAL)) ||
                     ((fds[i].revents & POLLHUP) && !(fds[i].revents & POLLIN));
        }
        if (failed) {
            logSystem("MIDIListener - input descriptor closed or failed; no more input");
            break;
        }
        if (input) ready();
    }
    waiting_ = false;
}

struct MIDIListener::Impl {
    std::mutex parseMutex;  // the parser keeps SysEx state between packets
    MIDIByteParser parser;
    bool started = false;
    // Posted events hold this weakly, so one that runs after the listener is
    // gone does nothing.
    std::shared_ptr<int> alive = std::make_shared<int>(0);

    snd_seq_t* seq = nullptr;
    snd_midi_event_t* decoder = nullptr;
    int inputPort = -1;
    mutable std::mutex sourcesMutex;
    std::vector<std::string> sources;
    InputThread input;

    void connectAllSources();
    void readEvents();
    void deliver(std::span<const std::uint8_t> bytes) {
        std::scoped_lock lock(parseMutex);
        parser.parse(bytes);
    }
};

MIDIListener& MIDIListener::shared() {
    static MIDIListener instance;
    return instance;
}

MIDIListener::MIDIListener() : impl_(std::make_unique<Impl>()) {
    // Events leave the input thread by a post; the callbacks are read on the
    // main thread when the post runs, so the hub may set them at any time.
    const std::weak_ptr<int> alive = impl_->alive;
    impl_->parser.onNoteOn = [this, alive](int note, int velocity, int channel) {
        postToMain([this, alive, note, velocity, channel] {
            if (!alive.expired() && onNoteOn) onNoteOn(note, velocity, channel);
        });
    };
    impl_->parser.onSysEx = [this, alive](const std::vector<std::uint8_t>& bytes) {
        if (auto message = MSC::decode(bytes)) {
            postToMain([this, alive, message = *message] {
                if (!alive.expired() && onMSC) onMSC(message);
            });
        } else {
            postToMain([this, alive, bytes] {
                if (!alive.expired() && onRawSysEx) onRawSysEx(bytes);
            });
        }
    };
}

MIDIListener::~MIDIListener() { stop(); }

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
    int status = snd_seq_open(&d.seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK);
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
    if (snd_midi_event_new(256, &d.decoder) < 0) {
        d.decoder = nullptr;
        logSystem("MIDIListener - event decoder creation failed");
        return;
    }
    // Every event keeps its own status byte: the byte parser does not follow
    // running status.
    snd_midi_event_no_status(d.decoder, 1);
    // The announce port tells us about ports that appear later.
    snd_seq_connect_from(d.seq, d.inputPort, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    d.connectAllSources();

    std::vector<pollfd> fds(std::max(snd_seq_poll_descriptors_count(d.seq, POLLIN), 0));
    fds.resize(std::max(snd_seq_poll_descriptors(d.seq, fds.data(), fds.size(), POLLIN), 0));
    std::vector<int> descriptors;
    for (const pollfd& fd : fds) descriptors.push_back(fd.fd);
    if (descriptors.empty() || !d.input.start(std::move(descriptors), [&d] { d.readEvents(); }))
        logSystem("MIDIListener - input thread not started");
}

void MIDIListener::stop() {
    Impl& d = *impl_;
    d.input.stop();
    if (d.decoder) snd_midi_event_free(d.decoder);
    d.decoder = nullptr;
    if (d.seq) snd_seq_close(d.seq);
    d.seq = nullptr;
    d.inputPort = -1;
    d.started = false;
    std::scoped_lock lock(d.sourcesMutex);
    d.sources.clear();
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

// Everything the sequencer holds now; the descriptor is non-blocking, so this
// ends when the queue is empty.
void MIDIListener::Impl::readEvents() {
    std::uint8_t bytes[256];
    for (;;) {
        snd_seq_event_t* event = nullptr;
        const int result = snd_seq_event_input(seq, &event);
        if (result == -ENOSPC) continue;  // input overrun: events were lost, go on
        if (result < 0) return;           // -EAGAIN: nothing more for now
        if (!event) return;
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
