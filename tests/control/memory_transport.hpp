#pragma once

// A control transport in memory: the test hands the hub messages and listening
// reports as the OSC server or the MIDI listener would, on the main thread, and
// reads back how the hub started and stopped it.

#include <string>
#include <vector>

#include "control/control_transport.hpp"

namespace tallowmark::testing {

class MemoryTransport final : public ControlTransport {
public:
    void start(const TransportOptions& options) override { starts.push_back(options); }
    void stop() override { ++stops; }
    std::vector<std::string> sourceNames() const override { return sources; }

    void deliver(const ControlMessage& message) const {
        if (onMessage) onMessage(message);
    }
    void report(const TransportStatus& status) const {
        if (onStatus) onStatus(status);
    }

    std::vector<TransportOptions> starts;
    int stops = 0;
    std::vector<std::string> sources;
};

}  // namespace tallowmark::testing
