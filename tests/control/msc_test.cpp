#include "control/msc.hpp"

#include <gtest/gtest.h>

#include <string_view>

namespace tallowmark {
namespace {

using namespace std::literals;
using Bytes = std::vector<std::uint8_t>;

Bytes wire(std::string_view text) { return Bytes(text.begin(), text.end()); }

using C = MSC::Command;
using Opt = std::optional<std::string>;

MSC::Message message(std::uint8_t device, std::uint8_t format, C command, Opt cue = {}, Opt list = {}, Opt path = {}) {
    return {device, format, command, std::move(cue), std::move(list), std::move(path)};
}

TEST(MSCDecode, BytesGiveTheirFieldsOrARefusal) {
    const std::pair<std::string_view, std::optional<MSC::Message>> cases[] = {
        // 0 F0, 1 7F, 2 device, 3 02, 4 format, 5 command, 6.. fields, last F7
        {"\xF0\x7F\x05\x02\x01\x01" "12.5" "\x00" "3" "\xF7"sv, message(5, 0x01, C::go, "12.5", "3")},
        {"\xF0\x7F\x7F\x02\x01\x01\xF7"sv, message(0x7F, 0x01, C::go)},
        {"\xF0\x7F\x00\x02\x04\x0B\xF7"sv, message(0, 0x04, C::goOff)},
        // 6 " 7 ", 9 00, 10 "   " (only blanks: no list)
        {"\xF0\x7F\x01\x02\x10\x05 7 \x00   \xF7"sv, message(1, 0x10, C::load, "7")},
        // 6 "5", 7 00 closes it, 8 00 closes an empty list, 9 "9" is the path
        {"\xF0\x7F\x01\x02\x01\x01" "5\x00\x00" "9\xF7"sv, message(1, 0x01, C::go, "5", {}, "9")},
        // A fourth field is ignored; a trailing 00 adds nothing.
        {"\xF0\x7F\x01\x02\x01\x01" "1\x00" "2\x00" "3\x00" "4\x00\xF7"sv, message(1, 0x01, C::go, "1", "2", "3")},
        // Tabs and no-break spaces trim; a line break does not.
        {"\xF0\x7F\x01\x02\x01\x01\t12\xC2\xA0\x00" "\n3 \xF7"sv, message(1, 0x01, C::go, "12", "\n3")},
        // 7 C3 alone is not UTF-8 and becomes U+FFFD; C3 84 is kept as it is.
        {"\xF0\x7F\x01\x02\x01\x01" "A\xC3" "B\x00\xC3\x84\xF7"sv, message(1, 0x01, C::go, "A\uFFFD" "B", "\u00C4")},
        {"\xF0\x43\x10\x00\xF7"sv, {}},          // 1: 43, another maker's SysEx
        {"\xF0\x7F\x00\x06\x01\x01\xF7"sv, {}},  // 3: 06, machine control, else shaped as an MSC GO
        {"\xF0\x7F\x00\x02\x01\x00\xF7"sv, {}},  // 5: no command 00
        {"\xF0\x7F\x00\x02\x01\x0C\xF7"sv, {}},  // 5: nor 0C
        {"\xF1\x7F\x00\x02\x01\x01\xF7"sv, {}},  // 0: not F0
    };
    for (const auto& [bytes, expected] : cases)
        EXPECT_EQ(MSC::decode(wire(bytes)), expected) << ::testing::PrintToString(wire(bytes));
    // Every cut-short copy of a good message (the empty one too), read from a larger buffer.
    const Bytes good = wire(cases[0].first);
    for (std::size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(MSC::decode(std::span(good).first(n))) << n << " bytes";
}

TEST(MSCEncode, FieldsArePositionalWithNoTrailingSeparator) {
    const struct {
        MSC::Message message;
        std::string_view bytes;
    } cases[] = {
        {message(5, 0x01, C::go, "12.5", "3", "p"), "\xF0\x7F\x05\x02\x01\x01" "12.5\x00" "3\x00" "p\xF7"sv},
        {message(0x7F, 0x10, C::stop), "\xF0\x7F\x7F\x02\x10\x02\xF7"sv},
    };
    for (const auto& c : cases) EXPECT_EQ(MSC::encode(c.message), wire(c.bytes)) << c.message.summary();
}

// The log line's shape: the command, its fields, the device and the format (named, or in hex when unknown).
TEST(MSCSummary, LogLines) {
    EXPECT_EQ(message(5, 0x01, C::go, "12.5", "3", "p").summary(), "MSC GO cue 12.5 list 3  [dev 5, Lighting]");
    EXPECT_EQ(message(0x7F, 0x7F, C::timedGo).summary(), "MSC TIMED GO  [dev all, All-types]");
    EXPECT_EQ(message(0, 0xAB, C::allOff, {}, "2").summary(), "MSC ALL OFF list 2  [dev 0, 0xAB]");
    // Each command byte read from the wire as its own command.
    const std::string labels[] = {"GO", "STOP", "RESUME", "TIMED GO", "LOAD", "SET", "FIRE", "ALL OFF", "RESTORE",
                                  "RESET", "GO OFF"};
    for (std::uint8_t byte = 0x01; byte <= 0x0B; ++byte) {
        EXPECT_EQ(message(1, 0x02, MSC::commandFromByte(byte).value()).summary(),
                  "MSC " + labels[byte - 1] + "  [dev 1, Moving Lights]");
    }
}

}  // namespace
}  // namespace tallowmark
