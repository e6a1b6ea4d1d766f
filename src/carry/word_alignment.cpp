#include "carry/word_alignment.hpp"

#include <algorithm>
#include <dtl/dtl.hpp>
#include <new>
#include <unordered_map>

namespace tallowmark {

namespace {

using Words = std::span<const std::uint64_t>;

// The edit script's cost grows with the product of a stretch's two sides
// when they differ throughout; past this the stretch is anchored again.
constexpr std::int64_t editScriptLimit = 4'000'000;
// A stretch matched by the edit script alone keeps a lone matched word only
// when both sides are this short: inside a changed line a word between two
// changes is the same word, in two rewritten speeches a shared "the" is not.
constexpr std::int32_t loneMatchSpan = 4;

std::uint64_t mix(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}

struct Pair {
    std::int32_t a, b;
};

// The longest run of pairs (sorted by a) whose b also increases.
std::vector<Pair> increasingRun(const std::vector<Pair>& pairs) {
    std::vector<std::int32_t> tails;  // index into pairs of the smallest tail of each length
    std::vector<std::int32_t> before(pairs.size(), -1);
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(pairs.size()); ++i) {
        const auto at = std::lower_bound(tails.begin(), tails.end(), pairs[i].b,
                                         [&](std::int32_t t, std::int32_t b) { return pairs[t].b < b; });
        if (at != tails.begin()) before[i] = *(at - 1);
        if (at == tails.end()) {
            tails.push_back(i);
        } else {
            *at = i;
        }
    }
    std::vector<Pair> run;
    for (std::int32_t i = tails.empty() ? -1 : tails.back(); i >= 0; i = before[i]) run.push_back(pairs[i]);
    std::reverse(run.begin(), run.end());
    return run;
}

// Pairs of n-grams (n words from each position) that occur exactly once on
// each side, over a[a0, a1) and b[b0, b1), in increasing order on both.
std::vector<Pair> uniqueAnchors(Words a, std::int32_t a0, std::int32_t a1, Words b, std::int32_t b0, std::int32_t b1,
                                int n) {
    struct Seen {
        std::int32_t countA = 0, countB = 0, at = 0, bt = 0;
    };
    auto gram = [n](Words w, std::int32_t i) {
        std::uint64_t h = 0;
        for (int k = 0; k < n; ++k) {
            if (w[i + k] == 0) return std::uint64_t{0};
            h = mix(h * 31 + w[i + k]);
        }
        return h;
    };
    std::unordered_map<std::uint64_t, Seen> seen;
    seen.reserve(static_cast<std::size_t>(std::max(0, a1 - a0)) + static_cast<std::size_t>(std::max(0, b1 - b0)));
    for (std::int32_t i = a0; i + n <= a1; ++i) {
        const std::uint64_t h = gram(a, i);
        if (h == 0) continue;
        Seen& s = seen[h];
        if (s.countA++ == 0) s.at = i;
    }
    for (std::int32_t j = b0; j + n <= b1; ++j) {
        const std::uint64_t h = gram(b, j);
        if (h == 0) continue;
        const auto it = seen.find(h);
        if (it == seen.end()) continue;
        if (it->second.countB++ == 0) it->second.bt = j;
    }
    std::vector<Pair> pairs;
    for (const auto& [h, s] : seen)
        if (s.countA == 1 && s.countB == 1) pairs.push_back({s.at, s.bt});
    std::sort(pairs.begin(), pairs.end(), [](const Pair& x, const Pair& y) { return x.a < y.a; });
    return increasingRun(pairs);
}

class Aligner {
public:
    Aligner(Words a, Words b) : a_(a), b_(b), map_(a.size(), -1) {}

    std::vector<std::int32_t> run() {
        stretch(0, static_cast<std::int32_t>(a_.size()), 0, static_cast<std::int32_t>(b_.size()), 3);
        return std::move(map_);
    }

private:
    void match(std::int32_t i, std::int32_t j) { map_[i] = j; }

    // Matches a[a0, a1) with b[b0, b1): equal ends first, then anchors of
    // `n` words with the stretches between them, then the edit script.
    void stretch(std::int32_t a0, std::int32_t a1, std::int32_t b0, std::int32_t b1, int n) {
        while (a0 < a1 && b0 < b1 && a_[a0] != 0 && a_[a0] == b_[b0]) match(a0++, b0++);
        while (a0 < a1 && b0 < b1 && a_[a1 - 1] != 0 && a_[a1 - 1] == b_[b1 - 1]) match(--a1, --b1);
        if (a0 >= a1 || b0 >= b1) return;
        const std::int64_t size = static_cast<std::int64_t>(a1 - a0) * (b1 - b0);
        if (size <= editScriptLimit && n == 3 && (a1 - a0 < 64 || b1 - b0 < 64)) return editScript(a0, a1, b0, b1);
        for (; n >= 1; --n) {
            const std::vector<Pair> anchors = uniqueAnchors(a_, a0, a1, b_, b0, b1, n);
            if (anchors.empty()) continue;
            std::int32_t ia = a0, ib = b0;
            for (const Pair& p : anchors) {
                if (p.a < ia || p.b < ib) continue;  // overlaps the anchor before
                stretch(ia, p.a, ib, p.b, n);
                for (int k = 0; k < n; ++k) match(p.a + k, p.b + k);
                ia = p.a + n;
                ib = p.b + n;
            }
            stretch(ia, a1, ib, b1, n);
            return;
        }
        if (size <= editScriptLimit) editScript(a0, a1, b0, b1);
        // Larger still and without a single shared unique word: left unmatched.
    }

    void editScript(std::int32_t a0, std::int32_t a1, std::int32_t b0, std::int32_t b1) {
        std::vector<std::uint64_t> sa(a_.begin() + a0, a_.begin() + a1), sb(b_.begin() + b0, b_.begin() + b1);
        std::vector<Pair> common;
        try {
            dtl::Diff<std::uint64_t, std::vector<std::uint64_t>> diff(sa, sb);
            diff.compose();
            for (const auto& [word, info] : diff.getSes().getSequence())
                if (info.type == dtl::SES_COMMON && word != 0)
                    common.push_back({a0 + static_cast<std::int32_t>(info.beforeIdx) - 1,
                                      b0 + static_cast<std::int32_t>(info.afterIdx) - 1});
        } catch (const std::bad_alloc&) {
            return;  // left unmatched: its marks go to review
        }
        const bool short_ = a1 - a0 <= loneMatchSpan && b1 - b0 <= loneMatchSpan;
        for (std::size_t k = 0; k < common.size(); ++k) {
            const auto adjacent = [&](std::size_t x, std::size_t y) {
                return common[y].a == common[x].a + 1 && common[y].b == common[x].b + 1;
            };
            const bool inRun = (k > 0 && adjacent(k - 1, k)) || (k + 1 < common.size() && adjacent(k, k + 1));
            if (short_ || inRun) match(common[k].a, common[k].b);
        }
    }

    Words a_, b_;
    std::vector<std::int32_t> map_;
};

}  // namespace

std::uint64_t wordHash(std::string_view folded) {
    if (folded.empty()) return 0;
    std::uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a
    for (const char c : folded) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    return h == 0 ? 1 : h;
}

std::vector<std::int32_t> alignWords(std::span<const std::uint64_t> from, std::span<const std::uint64_t> to) {
    return Aligner(from, to).run();
}

}  // namespace tallowmark
