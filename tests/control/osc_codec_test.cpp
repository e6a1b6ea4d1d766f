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

// Each packet gives its messages in order, or nothing when it is malformed.
TEST(OSCDecode, PacketsGiveTheirMessagesOrNothing) {
    using Messages = std::vector<OSCMessage>;
    const OSCMessage ma{"/a", {}}, mb{"/b", {1}}, deepest{"/deep", {}};
    const Bytes a = OSCCodec::encode(ma), b = OSCCodec::encode(mb);
    Bytes oddSized = b, overrun = bundle({a}), trailing = bundle({a});
    oddSized.push_back(0xee);  // 13 bytes: sizes need not be multiples of 4
    for (std::uint8_t x : be32(std::uint32_t(b.size() + 1))) overrun.push_back(x);  // one byte more than is there
    overrun.insert(overrun.end(), b.begin(), b.end());
    trailing.insert(trailing.end(), {0, 0, 9});
    std::vector<std::pair<Bytes, Messages>> cases = {
        {wire("/x\0\0"                     //  0 address
              ",Sbi\0\0\0\0"               //  4 tags
              "hi\0\0"                     // 12 "S" string
              "\0\0\0\x05\xa\xb\xc\xd\xe"  // 16 blob of 5
              "\0\0\0"                     // 25 padding
              "\x80\0\0\0"sv),             // 28 int, only found past the padding
         {{"/x", {"hi"s, OSCBlob{10, 11, 12, 13, 14}, std::numeric_limits<std::int32_t>::min()}}}},
        {wire(""sv), {}},
        {wire("go\0\0,i\0\0\0\0\0\1"sv), {}},       // address without "/"
        {wire("/go"sv), {}},                        // address never ends
        {wire("#bundle\0\0\0\0\0"sv), {}},          // 12 bytes: too short for a bundle, and no "/"
        {wire("/a\0\0,ii\0\0\0\0\1\0\0\0"sv), {}},    // 12: second int has 3 of 4 bytes
        {wire("/a\0\0,s\0\0ab"sv), {}},             //  8: string without terminator
        {wire("/a\0\0,b\0\0\0\0"sv), {}},           //  8: blob size field cut
        {wire("/a\0\0,b\0\0\0\0\0\x08\1\2\3\4"sv), {}},  //  8: blob of 8 with 4 bytes
        {wire("/a\0\0,b\0\0\xff\xff\xff\xff\1\2"sv), {}},  //  8: blob size near 4 GiB must not wrap
        {wire("/go\0"sv), {{"/go", {}}}},                        // no type tags at all
        {wire("/abcd\0"sv), {{"/abcd", {}}}},                    // address padding missing
        {wire("/go\0iii\0\0\0\0\1"sv), {{"/go", {}}}},           // tags without ","
        {wire("/a\0\0,ihi\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\2"sv), {{"/a", {1}}}},  // "h" stops reading
        {wire("/a\0\0,s\0\0wxyz\0"sv), {{"/a", {"wxyz"s}}}},     // last string's padding missing
        {wire("/\xff\0\0,\0\0\0"sv), {{"/\xEF\xBF\xBD", {}}}},
        {bundle({a, b}), {ma, mb}}, {bundle({oddSized, a}), {mb, ma}}, {bundle({a, wire("\1\2\3"sv), b}), {ma, mb}},
        {overrun, {ma}}, {bundle({a, {}, b}), {ma}}, {trailing, {ma}}, {bundle({}), {}},
    };
    // Four levels of bundles open and a fifth is dropped; a too-deep branch costs only itself.
    Bytes deep = OSCCodec::encode(deepest);
    for (int levels = 1; levels <= 8; ++levels) {
        deep = bundle({deep});
        cases.push_back({deep, levels <= 4 ? Messages{deepest} : Messages{}});
        cases.push_back({bundle({a, deep}), levels <= 3 ? Messages{ma, deepest} : Messages{ma}});
    }
    for (const auto& [packet, expected] : cases)
        EXPECT_EQ(OSCCodec::decode(packet), expected) << ::testing::PrintToString(packet);
    Messages into{ma};
    OSCCodec::decode(bundle({b}), into, OSCCodec::maxBundleDepth + 1);
    EXPECT_EQ(into, Messages{ma});
}

TEST(OSCFirstArgument, AsString) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const std::pair<std::vector<OSCArgument>, std::optional<std::string>> cases[] = {
        {{}, std::nullopt}, {{-3}, "-3"}, {{12.0f}, "12"}, {{-0.0f}, "0"}, {{12.5f}, "12.5"}, {{0.1f}, "0.1"},
        {{123456792.0f}, "123456792"}, {{1e9f}, "1e+09"}, {{-nan}, "nan"}, {{-inf}, "-inf"}, {{"12a"s}, "12a"},
        {{true}, "1"}, {{false}, "0"}, {{OSCBlob{1}}, std::nullopt}, {{OSCNull{}, 5}, std::nullopt},
    };
    for (const auto& [arguments, expected] : cases)
        EXPECT_EQ((OSCMessage{"/c", arguments}.firstAsString()), expected) << expected.value_or("none");
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
    for (const auto& [argument, expected] : cases)
        EXPECT_EQ((OSCMessage{"/p", {argument}}.firstAsInt()), expected) << ::testing::PrintToString(argument);
    EXPECT_EQ(OSCMessage{}.firstAsInt(), std::nullopt);
}

}  // namespace
}  // namespace tallowmark
