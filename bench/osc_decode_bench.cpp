// What decoding costs on the OSC input queue for the packets a desk sends
// during a show: a bare GO, a GO on a point cue, a cue number as a float, and a
// bundle of eight such messages.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "control/osc_codec.hpp"

namespace {

using tallowmark::OSCCodec::decode;
using tallowmark::OSCCodec::encode;
using tallowmark::OSCMessage;

std::vector<std::uint8_t> bundleOf(const std::vector<std::vector<std::uint8_t>>& elements) {
    std::vector<std::uint8_t> packet = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 1};
    for (const auto& element : elements) {
        const auto size = static_cast<std::uint32_t>(element.size());
        for (int shift = 24; shift >= 0; shift -= 8) packet.push_back(static_cast<std::uint8_t>(size >> shift));
        packet.insert(packet.end(), element.begin(), element.end());
    }
    return packet;
}

void run(benchmark::State& state, const std::vector<std::uint8_t>& packet, std::int64_t messagesPerPacket) {
    for (auto _ : state) {
        auto messages = decode(packet);
        if (static_cast<std::int64_t>(messages.size()) != messagesPerPacket) state.SkipWithError("decode lost a message");
        benchmark::DoNotOptimize(messages);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(packet.size()));
    state.SetItemsProcessed(state.iterations() * messagesPerPacket);
}

void BM_DecodeGo(benchmark::State& state) { run(state, encode({"/go", {}}), 1); }
BENCHMARK(BM_DecodeGo);

void BM_DecodeCueGo(benchmark::State& state) { run(state, encode({"/tallowmark/cue/12.5/go", {}}), 1); }
BENCHMARK(BM_DecodeCueGo);

void BM_DecodeCueFloat(benchmark::State& state) { run(state, encode({"/cue", {12.5f}}), 1); }
BENCHMARK(BM_DecodeCueFloat);

void BM_DecodeBundleOfEight(benchmark::State& state) {
    std::vector<std::vector<std::uint8_t>> elements;
    for (int n = 0; n < 8; ++n) {
        elements.push_back(n % 2 == 0 ? encode({"/tallowmark/cue/" + std::to_string(n + 1) + "/go", {}})
                                      : encode({"/cue", {static_cast<float>(n) + 0.5f}}));
    }
    run(state, bundleOf(elements), 8);
}
BENCHMARK(BM_DecodeBundleOfEight);

}  // namespace

BENCHMARK_MAIN();
