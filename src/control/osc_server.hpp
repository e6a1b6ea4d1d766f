#pragma once

// Receives OSC datagrams over UDP on its own thread (a GLib main context of
// its own: the server's serial queue), keeps a table of sending hosts with the
// time of their last datagram and their share of the traffic, sweeps silent
// ones, and hands every admitted message to the main thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/osc_codec.hpp"

namespace tallowmark {

class OSCServer {
public:
    OSCServer();
    ~OSCServer();  // stops; nothing is delivered afterwards
    OSCServer(const OSCServer&) = delete;
    OSCServer& operator=(const OSCServer&) = delete;

    // Main thread, one call per decoded message, in datagram order. `sender`
    // is host:port, an IPv6 scope suffix dropped.
    std::function<void(const OSCMessage& message, const std::string& sender)> onMessage;
    // Main thread. (true, port, none) when listening; (false, port, error)
    // when it could not start or failed; (false, port, none) after a stop.
    // Only the current listener reports: once a later start or stop has
    // replaced it, its queued reports are dropped.
    std::function<void(bool listening, std::uint16_t port, const std::optional<std::string>& error)>
        onStatusChange;

    // Read on the server's thread for each message before it costs anything:
    // a message to an address this refuses is dropped there, counted in the
    // log but never queued and never charged to its sender's share. Set before
    // start(); unset, every address is taken.
    std::function<bool(std::string_view address)> acceptsAddress;

    // (Re)starts listening. localOnly binds 127.0.0.1 only; otherwise every
    // interface. A port outside 1..65535 reports "virheellinen portti" at once.
    // The desk hosts (numeric, as senders are named) are never pushed out of
    // the table and never wait behind other senders' messages.
    void start(std::int64_t port, bool localOnly, std::vector<std::string> deskHosts = {});
    void stop();

    bool isListening() const;
    std::uint16_t port() const;
    // Hosts currently tracked (at most maxPeers).
    std::size_t trackedPeerCount() const;

    static constexpr std::size_t maxPeers = 64;
    // Messages one host may hand to the main thread per second, with a burst of
    // as many, whatever ports it sends from; the rest are dropped on the server
    // thread. Twice the hub's share per host, so the hub still sees, and logs,
    // who overflowed.
    static constexpr int maxPerPeerPerSecond = 100;
    // Seconds of silence after which a peer is dropped from the table; class-wide.
    static void setIdleTimeout(double seconds);
    static double idleTimeout();

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace tallowmark
