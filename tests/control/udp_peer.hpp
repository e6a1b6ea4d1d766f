#pragma once

// Loopback UDP for the transport and whole-path tests: a desk's plain socket,
// a free port, and a flood of datagrams.

#include <glib.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>
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
        const Bytes size = be32(std::uint32_t(e.size()));
        out.insert(out.end(), size.begin(), size.end());
        out.insert(out.end(), e.begin(), e.end());
    }
    return out;
}

inline Bytes datagram(const std::string& address, std::vector<OSCArgument> arguments = {}) {
    return OSCCodec::encode(OSCMessage{address, std::move(arguments)});
}

// A plain UDP socket bound to host:port (port 0: the kernel's pick), as a desk's would be.
class RawPeer {
public:
    explicit RawPeer(const std::string& host = "127.0.0.1", std::uint16_t port = 0) : host_(host) {
        sockaddr_storage address{};
        socklen_t length = resolve(host, port, address);
        if (length == 0) return;
        const int fd = socket(address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
            close(fd);
            return;
        }
        fd_ = fd;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        // sin_port and sin6_port lie at the same offset.
        port_ = ntohs(reinterpret_cast<sockaddr_in&>(address).sin_port);
    }
    RawPeer(const RawPeer&) = delete;
    ~RawPeer() {
        if (fd_ >= 0) close(fd_);
    }

    bool valid() const { return fd_ >= 0; }
    std::uint16_t port() const { return port_; }
    std::string name() const { return host_ + ":" + std::to_string(port_); }

    void sendTo(const std::string& host, std::uint16_t port, const Bytes& bytes) const {
        sockaddr_storage to{};
        const socklen_t length = resolve(host, port, to);
        ASSERT_NE(length, 0u) << host;
        ASSERT_EQ(sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), length),
                  static_cast<ssize_t>(bytes.size()));
    }

    std::vector<OSCMessage> receive(int timeoutMs) const {
        pollfd ready{fd_, POLLIN, 0};
        if (poll(&ready, 1, timeoutMs) != 1) return {};
        Bytes buffer(65536);
        buffer.resize(std::size_t(std::max<ssize_t>(0, recv(fd_, buffer.data(), buffer.size(), 0))));
        return OSCCodec::decode(buffer);
    }

    static socklen_t resolve(const std::string& host, std::uint16_t port, sockaddr_storage& out) {
        addrinfo hints{};
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return 0;
        std::memcpy(&out, found->ai_addr, found->ai_addrlen);
        const socklen_t length = found->ai_addrlen;
        freeaddrinfo(found);
        return length;
    }

private:
    std::string host_;
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// A UDP port nobody holds right now.
inline std::uint16_t freePort() { return RawPeer("0.0.0.0").port(); }

// About 10,000 datagrams a second to 127.0.0.1:port, in bursts of 100 every
// 10 ms, while the main loop stalls.
inline void flood(const RawPeer& peer, std::uint16_t port, double seconds) {
    const Bytes bytes = datagram("/flood");
    const gint64 start = g_get_monotonic_time();
    for (int burst = 0; burst < seconds * 100; ++burst) {
        for (int i = 0; i < 100; ++i) peer.sendTo("127.0.0.1", port, bytes);
        const gint64 next = start + (burst + 1) * 10000;
        if (next > g_get_monotonic_time()) g_usleep(static_cast<gulong>(next - g_get_monotonic_time()));
    }
}

}  // namespace tallowmark::testing
