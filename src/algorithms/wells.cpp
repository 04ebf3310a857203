#include "algorithms/wells.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <queue>
#include <set>
#include <utility>

#include "foundation/format.hpp"
#include "foundation/memory.hpp"

namespace vz {

namespace wells {

namespace {

/// The depth range of one name's picks in one well (NaN picks left out).
struct NameRange {
    std::uint32_t node;
    double shallowest;
    double deepest;
};

/// The picks of every well as name ranges, sorted by their deepest pick.
///
/// Two names of one well are ordered a before b when some pick of a lies
/// above some pick of b, that is when a's shallowest pick is above b's
/// deepest one: the successors of a in a well are the names whose deepest
/// pick lies below a's shallowest, a suffix of the list sorted by deepest
/// pick. This gives the same edges as comparing every two picks, at a cost
/// that grows with the names of a well instead of its picks.
std::vector<std::vector<NameRange>> name_ranges(std::span<const std::vector<DepthPick>> picks_per_well,
                                                const std::unordered_map<std::string, std::size_t>& node_of,
                                                std::size_t nodes) {
    std::vector<std::vector<NameRange>> wells;
    wells.reserve(picks_per_well.size());
    std::vector<std::uint32_t> slot(nodes, UINT32_MAX);  // a node's place in the current well's list
    for (const auto& well : picks_per_well) {
        std::vector<NameRange> ranges;
        for (const auto& pick : well) {
            if (std::isnan(pick.md)) continue;
            const auto node = static_cast<std::uint32_t>(node_of.at(pick.name));
            if (slot[node] == UINT32_MAX) {
                slot[node] = static_cast<std::uint32_t>(ranges.size());
                ranges.push_back({node, pick.md, pick.md});
            } else {
                NameRange& r = ranges[slot[node]];
                r.shallowest = std::min(r.shallowest, pick.md);
                r.deepest = std::max(r.deepest, pick.md);
            }
        }
        for (const auto& r : ranges) slot[r.node] = UINT32_MAX;
        std::sort(ranges.begin(), ranges.end(),
                  [](const NameRange& a, const NameRange& b) { return a.deepest < b.deepest; });
        wells.push_back(std::move(ranges));
    }
    return wells;
}

/// Where the successors of `r` start in its well's list sorted by deepest
/// pick: the first name whose deepest pick lies below r's shallowest.
std::size_t first_successor(const std::vector<NameRange>& well, const NameRange& r) {
    return static_cast<std::size_t>(
        std::upper_bound(well.begin(), well.end(), r.shallowest,
                         [](double md, const NameRange& x) { return md < x.deepest; }) -
        well.begin());
}

/// The data edges, a set of successors per node: a sorted list where that
/// is small, a bit per node where the list would be larger. The whole
/// structure takes at most one bit per pair of names, so a well of 20,000
/// distinct tops (200 million ordered pairs) needs 50 MB.
class EdgeSets {
public:
    /// Sizes the sets from the number of successor mentions of each node
    /// (with repeats across wells). Throws `std::bad_alloc` when they cannot
    /// be held.
    explicit EdgeSets(const std::vector<std::uint64_t>& mentions) : n_(mentions.size()), words_((n_ + 63) / 64) {
        start_.assign(n_ + 1, 0);
        dense_.assign(n_, UINT32_MAX);
        std::uint64_t listed = 0, dense_rows = 0;
        for (std::size_t a = 0; a < n_; ++a) {
            start_[a] = listed;
            // A list entry takes 32 bits; a bit row takes n bits.
            if (mentions[a] * 32 > words_ * 64) {
                dense_[a] = static_cast<std::uint32_t>(dense_rows++);
            } else {
                listed += mentions[a];
            }
        }
        start_[n_] = listed;
        lists_.resize(static_cast<std::size_t>(listed));
        bits_.resize(static_cast<std::size_t>(dense_rows * words_));
        fill_ = std::vector<std::uint64_t>(start_.begin(), start_.end() - 1);
    }

    void add(std::size_t a, std::size_t b) {
        if (dense_[a] != UINT32_MAX) {
            bits_[dense_[a] * words_ + b / 64] |= std::uint64_t{1} << (b % 64);
        } else {
            lists_[fill_[a]++] = static_cast<std::uint32_t>(b);
        }
    }

    /// Sorts every list and drops its repeats; call once after the last `add`.
    void seal() {
        for (std::size_t a = 0; a < n_; ++a) {
            if (dense_[a] != UINT32_MAX) continue;
            auto first = lists_.begin() + static_cast<std::ptrdiff_t>(start_[a]);
            auto last = lists_.begin() + static_cast<std::ptrdiff_t>(fill_[a]);
            std::sort(first, last);
            fill_[a] = start_[a] + static_cast<std::uint64_t>(std::unique(first, last) - first);
        }
    }

    bool contains(std::size_t a, std::size_t b) const {
        if (dense_[a] != UINT32_MAX) return (bits_[dense_[a] * words_ + b / 64] >> (b % 64)) & 1;
        auto first = lists_.begin() + static_cast<std::ptrdiff_t>(start_[a]);
        auto last = lists_.begin() + static_cast<std::ptrdiff_t>(fill_[a]);
        return std::binary_search(first, last, static_cast<std::uint32_t>(b));
    }

    /// Calls `f(b)` for every successor b of `a`.
    template <class F>
    void for_each(std::size_t a, F&& f) const {
        if (dense_[a] != UINT32_MAX) {
            const std::uint64_t* row = bits_.data() + dense_[a] * words_;
            for (std::size_t w = 0; w < words_; ++w)
                for (std::uint64_t bits = row[w]; bits != 0; bits &= bits - 1)
                    f(w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits)));
        } else {
            for (std::uint64_t k = start_[a]; k < fill_[a]; ++k) f(static_cast<std::size_t>(lists_[k]));
        }
    }

private:
    std::size_t n_;
    std::size_t words_;
    std::vector<std::uint64_t> start_;  // list nodes: where their list starts
    std::vector<std::uint64_t> fill_;   // list nodes: where their list ends
    std::vector<std::uint32_t> dense_;  // bit-row nodes: their row; others UINT32_MAX
    std::vector<std::uint32_t> lists_;
    std::vector<std::uint64_t> bits_;
};

std::vector<std::string> infer(std::span<const std::vector<DepthPick>> picks_per_well,
                               std::span<const StratHint> hints, std::size_t& tops) {
    // Nodes in first-seen order.
    std::vector<std::string> names;
    std::unordered_map<std::string, std::size_t> node_of;
    const auto node = [&](const std::string& name) {
        auto it = node_of.find(name);
        return it == node_of.end() ? std::optional<std::size_t>{} : std::optional<std::size_t>{it->second};
    };
    for (const auto& well : picks_per_well)
        for (const auto& pick : well)
            if (node_of.emplace(pick.name, names.size()).second) names.push_back(pick.name);
    const std::size_t n = names.size();
    tops = n;
    if (n == 0) return {};
    if (n >= UINT32_MAX) throw std::bad_alloc();  // nodes are numbered in 32 bits

    // Edges run from the shallower top to the deeper one, one per pair of
    // names of a well (see `name_ranges`).
    const auto wells = name_ranges(picks_per_well, node_of, n);
    std::vector<std::uint64_t> mentions(n, 0);
    for (const auto& well : wells)
        for (const auto& r : well) {
            const std::size_t from = first_successor(well, r);
            mentions[r.node] += well.size() - from - (r.deepest > r.shallowest ? 1 : 0);
        }
    EdgeSets edges(mentions);
    mentions = {};
    for (const auto& well : wells)
        for (const auto& r : well)
            for (std::size_t k = first_successor(well, r); k < well.size(); ++k)
                if (well[k].node != r.node) edges.add(r.node, well[k].node);
    edges.seal();

    // Hint edges, kept beside the data edges: each hint is tested against the
    // data edges alone.
    std::set<std::pair<std::size_t, std::size_t>> hinted;
    if (!hints.empty()) {
        std::vector<char> seen(n);
        std::vector<std::size_t> stack;
        for (const auto& hint : hints) {
            const auto above = node(hint.above);
            const auto below = node(hint.below);
            if (!above || !below || *above == *below) continue;
            // Do the picks already place `below` above `above`?
            std::fill(seen.begin(), seen.end(), 0);
            stack.assign(1, *below);
            seen[*below] = 1;
            bool reached = false;
            while (!stack.empty() && !reached) {
                const std::size_t at = stack.back();
                stack.pop_back();
                edges.for_each(at, [&](std::size_t s) {
                    if (s == *above) reached = true;
                    if (!seen[s]) {
                        seen[s] = 1;
                        stack.push_back(s);
                    }
                });
            }
            if (!reached && !edges.contains(*above, *below)) hinted.emplace(*above, *below);
        }
    }
    std::vector<std::vector<std::size_t>> hint_succ(hinted.empty() ? 0 : n);
    for (const auto& [from, to] : hinted) hint_succ[from].push_back(to);

    // Ordering: the lowest-numbered node without unplaced predecessors, or,
    // when only cycles remain, the lowest-numbered unplaced node.
    std::vector<std::size_t> indegree(n, 0);
    for (std::size_t a = 0; a < n; ++a) edges.for_each(a, [&](std::size_t b) { ++indegree[b]; });
    for (const auto& [from, to] : hinted) ++indegree[to];
    std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> ready;
    for (std::size_t k = 0; k < n; ++k)
        if (indegree[k] == 0) ready.push(k);
    std::vector<char> placed(n, 0);
    std::size_t lowest_unplaced = 0;
    std::vector<std::string> order;
    order.reserve(n);
    const auto release = [&](std::size_t s) {
        if (!placed[s] && indegree[s] > 0 && --indegree[s] == 0) ready.push(s);
    };
    for (std::size_t round = 0; round < n; ++round) {
        std::size_t pick;
        if (!ready.empty()) {
            pick = ready.top();
            ready.pop();
        } else {
            while (placed[lowest_unplaced]) ++lowest_unplaced;
            pick = lowest_unplaced;
        }
        placed[pick] = 1;
        order.push_back(names[pick]);
        edges.for_each(pick, release);
        if (!hint_succ.empty())
            for (const auto s : hint_succ[pick]) release(s);
    }
    return order;
}

}  // namespace

Result<std::vector<std::string>> infer_strat_order(std::span<const std::vector<DepthPick>> picks_per_well,
                                                   std::span<const StratHint> hints) {
    std::size_t tops = 0;
    return guard_memory([&]() -> Result<std::vector<std::string>> { return infer(picks_per_well, hints, tops); },
                        [&] { return memory_error(fmt::format("the stratigraphic order of {} tops", tops)); });
}

}  // namespace wells

}  // namespace vz
