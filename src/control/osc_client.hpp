#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "control/osc_codec.hpp"

namespace tallowmark {

// Sends one datagram per message, one UDP socket per destination (host:port).
// Fire-and-forget: never blocks the caller on the network.
class OSCClient {
public:
    static OSCClient& shared();
    void send(const OSCMessage& message, const std::string& host, std::uint16_t port);
    // An encoded datagram (a bundle) as it is.
    void sendDatagram(std::vector<std::uint8_t> datagram, const std::string& host, std::uint16_t port);
    void closeAll();

    OSCClient();
    ~OSCClient();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tallowmark
