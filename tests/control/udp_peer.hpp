#pragma once

// Loopback UDP for the transport tests: a desk's plain socket, a free port, and OSC packets made by hand.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "control/osc_codec.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes wire(std::string_view literal) { return Bytes(literal.begin(), literal.end()); }

inline Bytes be32(std::uint32_t v) {
    return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
}

// "#bundle", a time tag far in the future (it must not delay anything), then sized elements.
inline Bytes bundle(const std::vector<Bytes>& elements) {
    using namespace std::literals;
    Bytes out = wire("#bundle\0\xff\xff\xff\xff\0\0\0\0"sv);
    for (const Bytes& e : elements) {
        for (const std::uint8_t b : be32(std::uint32_t(e.size()))) out.push_back(b);
        out.insert(out.end(), e.begin(), e.end());
    }
    return out;
}

inline Bytes datagram(const std::string& address, std::vector<OSCArgument> arguments = {}) {
    return OSCCodec::encode(OSCMessage{address, std::move(arguments)});
}

// A plain IPv4 UDP socket bound to host:port (port 0: the kernel's pick), as a desk's would be.
class RawPeer {
public:
    explicit RawPeer(const std::string& host = "127.0.0.1", std::uint16_t port = 0) : host_(host) {
        sockaddr_in address = at(host, port);
        socklen_t length = sizeof address;
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0) close(std::exchange(fd_, -1));
        if (fd_ >= 0 && getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    RawPeer(const RawPeer&) = delete;
    ~RawPeer() {
        if (fd_ >= 0) close(fd_);
    }

    bool valid() const { return fd_ >= 0; }
    std::uint16_t port() const { return port_; }
    std::string name() const { return host_ + ":" + std::to_string(port_); }

    void sendTo(const std::string& host, std::uint16_t port, const Bytes& bytes) const {
        const sockaddr_in to = at(host, port);
        ASSERT_EQ(sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(bytes.size()));
    }

    // What one datagram sent here holds, or nothing within `timeoutMs`.
    std::vector<OSCMessage> receive(int timeoutMs) const {
        pollfd ready{fd_, POLLIN, 0};
        if (poll(&ready, 1, timeoutMs) != 1) return {};
        Bytes buffer(65536);
        buffer.resize(std::size_t(std::max<ssize_t>(0, recv(fd_, buffer.data(), buffer.size(), 0))));
        return OSCCodec::decode(buffer);
    }

private:
    static sockaddr_in at(const std::string& host, std::uint16_t port) {
        sockaddr_in address{.sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {}, .sin_zero = {}};
        EXPECT_EQ(inet_pton(AF_INET, host.c_str(), &address.sin_addr), 1) << host;
        return address;
    }

    std::string host_;
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// A UDP port nobody holds right now.
inline std::uint16_t freePort() { return RawPeer("0.0.0.0").port(); }

}  // namespace tallowmark::testing
