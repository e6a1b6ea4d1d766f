#include "control/osc_codec.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "udp_peer.hpp"

namespace tallowmark {
namespace {

using namespace std::literals;
using testing::be32;
using testing::bundle;
using testing::Bytes;

using testing::wire;

std::vector<std::string> addresses(const Bytes& packet) {
    std::vector<std::string> out;
    for (const OSCMessage& m : OSCCodec::decode(packet)) out.push_back(m.address);
    return out;
}

// Terminators, padding and repair are pinned through decode below; what only a
// direct read can reach is an offset at or past the end, however large.
TEST(OSCReadString, OffsetsAtOrPastTheEndGiveNothing) {
    for (const std::size_t at : {std::size_t(4), std::size_t(5), std::numeric_limits<std::size_t>::max()}) {
        EXPECT_FALSE(OSCCodec::readString(wire("abc\0"sv), at)) << at;
    }
    EXPECT_EQ(OSCCodec::readString(wire("xxxxab\0"sv), 4)->next, 8u) << "the next field may lie past the end";
}

TEST(OSCEncode, WireLiteral) {
    const OSCMessage all{"/cue", {-2, 12.5f, "abcd"s, OSCBlob{1, 2, 3, 4, 5}, true, false, OSCNull{}, OSCImpulse{}}};
    EXPECT_EQ(OSCCodec::encode(all), wire("/cue\0\0\0\0"           //  0 address, 4 bytes take 8
                                          ",ifsbTFNI\0\0\0"        //  8 tags, 9 bytes padded to 12
                                          "\xff\xff\xff\xfe"       // 20 int -2
                                          "\x41\x48\0\0"           // 24 float 12.5
                                          "abcd\0\0\0\0"           // 28 string
                                          "\0\0\0\x05\1\2\3\4\5\0\0\0"sv));  // 36 blob size, data, 3 zeros
    EXPECT_EQ(OSCCodec::encode({"/go", {}}), wire("/go\0,\0\0\0"sv));
    EXPECT_EQ(OSCCodec::padded(""), wire("\0\0\0\0"sv));
}

TEST(OSCDecode, WireLiteralWithUpperSAndBlobPadding) {
    const Bytes packet = wire("/x\0\0"                     //  0 address
                              ",Sbi\0\0\0\0"               //  4 tags
                              "hi\0\0"                     // 12 "S" string
                              "\0\0\0\x05\xa\xb\xc\xd\xe"  // 16 blob of 5
                              "\0\0\0"                     // 25 padding
                              "\x80\0\0\0"sv);             // 28 int, only found past the padding
    const OSCMessage expected{"/x", {"hi"s, OSCBlob{10, 11, 12, 13, 14}, std::numeric_limits<std::int32_t>::min()}};
    EXPECT_EQ(OSCCodec::decode(packet), std::vector{expected});
}

TEST(OSCDecode, RoundTripAloneAndInBundle) {
    const OSCMessage messages[] = {
        {"/go", {}},
        {"/tallowmark/cue", {"12.5"s, 3}},
        {"/a", {""s, OSCBlob{}, OSCBlob{9}, -0.0f, std::numeric_limits<float>::infinity(), 0x7fffffff}},
        {"/\xc3\xa9t\xc3\xa9", {true, false, OSCNull{}, OSCImpulse{}, "four"s}},
    };
    for (const OSCMessage& m : messages) {
        const Bytes packet = OSCCodec::encode(m);
        EXPECT_EQ(packet.size() % 4, 0u) << m.address;
        EXPECT_EQ(OSCCodec::decode(packet), std::vector{m}) << m.address;
        EXPECT_EQ(OSCCodec::decode(bundle({packet})), std::vector{m}) << m.address;
    }
}

TEST(OSCDecode, MalformedPacketsYieldNothing) {
    const std::string_view cases[] = {
        ""sv,
        "go\0\0,i\0\0\0\0\0\1"sv,     // address without "/"
        "/go"sv,                      // address never ends
        "#bundle\0\0\0\0\0"sv,        // 12 bytes: too short for a bundle, and no "/"
        "/a\0\0,ii\0\0\0\0\1\0\0\0"sv,  // 12: second int has 3 of 4 bytes
        "/a\0\0,s\0\0ab"sv,           //  8: string without terminator
        "/a\0\0,b\0\0\0\0"sv,         //  8: blob size field cut
        "/a\0\0,b\0\0\0\0\0\x08\1\2\3\4"sv,  //  8: blob of 8 with 4 bytes
        "/a\0\0,b\0\0\xff\xff\xff\xff\1\2"sv,  //  8: blob size near 4 GiB must not wrap
    };
    for (std::string_view c : cases) EXPECT_TRUE(OSCCodec::decode(wire(c)).empty()) << ::testing::PrintToString(c);
}

TEST(OSCDecode, LenientPacketsKeepTheMessage) {
    struct Case { std::string_view data; OSCMessage expected; };
    const Case cases[] = {
        {"/go\0"sv, {"/go", {}}},                                   // no type tags at all
        {"/abcd\0"sv, {"/abcd", {}}},                               // address padding missing
        {"/go\0iii\0\0\0\0\1"sv, {"/go", {}}},                      // tags without ","
        {"/a\0\0,ihi\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\2"sv, {"/a", {1}}},  // "h" stops reading
        {"/a\0\0,s\0\0wxyz\0"sv, {"/a", {"wxyz"s}}},                // last string's padding missing
        {"/\xff\0\0,\0\0\0"sv, {"/\xEF\xBF\xBD", {}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OSCCodec::decode(wire(c.data)), std::vector{c.expected}) << ::testing::PrintToString(c.data);
    }
}

TEST(OSCBundle, ElementRules) {
    const Bytes a = OSCCodec::encode({"/a", {}}), b = OSCCodec::encode({"/b", {1}});
    Bytes oddSized = b;
    oddSized.push_back(0xee);  // 13 bytes: sizes need not be multiples of 4
    Bytes overrun = bundle({a});  // then /b claiming one byte more than the packet holds
    for (std::uint8_t x : be32(std::uint32_t(b.size() + 1))) overrun.push_back(x);
    overrun.insert(overrun.end(), b.begin(), b.end());
    Bytes endsAtZero = bundle({a, {}, b});
    Bytes trailing = bundle({a});
    trailing.insert(trailing.end(), {0, 0, 9});

    EXPECT_EQ(addresses(bundle({a, b})), (std::vector<std::string>{"/a", "/b"}));
    EXPECT_EQ(addresses(bundle({oddSized, a})), (std::vector<std::string>{"/b", "/a"}));
    EXPECT_EQ(addresses(bundle({a, wire("\1\2\3"sv), b})), (std::vector<std::string>{"/a", "/b"}));
    EXPECT_EQ(addresses(overrun), std::vector<std::string>{"/a"});
    EXPECT_EQ(addresses(endsAtZero), std::vector<std::string>{"/a"});
    EXPECT_EQ(addresses(trailing), std::vector<std::string>{"/a"});
    EXPECT_TRUE(addresses(bundle({})).empty());
}

TEST(OSCBundle, FourLevelsOpenAndAFifthIsDropped) {
    Bytes packet = OSCCodec::encode({"/deep", {}});
    for (int levels = 1; levels <= 8; ++levels) {
        packet = bundle({packet});
        EXPECT_EQ(OSCCodec::decode(packet).size(), levels <= 4 ? 1u : 0u) << levels;
        // A too-deep branch costs only itself.
        EXPECT_EQ(addresses(bundle({OSCCodec::encode({"/kept", {}}), packet})).front(), "/kept");
    }
    std::vector<OSCMessage> into{{"/earlier", {}}};
    OSCCodec::decode(bundle({OSCCodec::encode({"/x", {}})}), into, OSCCodec::maxBundleDepth + 1);
    EXPECT_EQ(into.size(), 1u);
}

TEST(OSCFirstArgument, AsString) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const std::pair<std::vector<OSCArgument>, std::optional<std::string>> cases[] = {
        {{}, std::nullopt}, {{-3}, "-3"}, {{12.0f}, "12"}, {{-0.0f}, "0"}, {{12.5f}, "12.5"}, {{0.1f}, "0.1"},
        {{123456792.0f}, "123456792"}, {{1e9f}, "1e+09"}, {{-nan}, "nan"}, {{-inf}, "-inf"}, {{"12a"s}, "12a"},
        {{true}, "1"}, {{false}, "0"}, {{OSCBlob{1}}, std::nullopt}, {{OSCNull{}, 5}, std::nullopt},
    };
    for (const auto& [arguments, expected] : cases) {
        EXPECT_EQ((OSCMessage{"/c", arguments}.firstAsString()), expected) << expected.value_or("none");
    }
}

TEST(OSCFirstArgument, AsIntStrictAndRoundingHalvesAway) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const std::pair<OSCArgument, std::optional<std::int64_t>> cases[] = {
        {-7, -7}, {12.4f, 12}, {12.5f, 13}, {-2.5f, -3}, {-0.4f, 0}, {999999936.0f, 999999936},
        {nan, std::nullopt}, {inf, std::nullopt}, {1e9f, std::nullopt}, {"+42"s, 42}, {"-042"s, -42},
        {"9223372036854775807"s, INT64_MAX}, {"-9223372036854775808"s, INT64_MIN},
        {"9223372036854775808"s, std::nullopt}, {"-2.5"s, -3}, {"+.5"s, 1}, {"1e3"s, 1000},
        {"1e300"s, std::nullopt}, {"1e999"s, std::nullopt}, {"inf"s, std::nullopt}, {"nan"s, std::nullopt},
        {" 12"s, std::nullopt}, {"12 "s, std::nullopt}, {""s, std::nullopt}, {"+"s, std::nullopt},
        {"+-5"s, std::nullopt}, {"0x10"s, std::nullopt}, {"1e"s, std::nullopt},
        {true, 1}, {false, 0}, {OSCBlob{7}, std::nullopt}, {OSCNull{}, std::nullopt},
    };
    for (const auto& [argument, expected] : cases) {
        EXPECT_EQ((OSCMessage{"/p", {argument}}.firstAsInt()), expected) << ::testing::PrintToString(argument);
    }
    EXPECT_EQ(OSCMessage{}.firstAsInt(), std::nullopt);
}

}  // namespace
}  // namespace tallowmark
