#pragma once

// Which word of one version of a script is which word of the other. Words
// come as hashes of their folded text. Anchors first: runs of three words
// found exactly once in each version, kept where they agree in order (a
// longest increasing run); between anchors the words are matched by a
// shortest edit script (Wu, Manber and Myers' O(NP) algorithm, from dtl).
// Cost stays near-linear: a stretch between anchors too large for the edit
// script is anchored again on words unique within it, or left unmatched.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tallowmark {

// The hash a word is compared by; the empty word (a mark with no letters) matches nothing.
std::uint64_t wordHash(std::string_view folded);

// For each word of `from`, the index of the same word in `to`, or -1. The
// indices that are set increase, so the matched words keep their order.
std::vector<std::int32_t> alignWords(std::span<const std::uint64_t> from, std::span<const std::uint64_t> to);

}  // namespace tallowmark
