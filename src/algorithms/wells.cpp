#include "algorithms/wells.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <set>
#include <utility>

#include "foundation/format.hpp"

namespace vz {

namespace wells {

std::vector<std::string> infer_strat_order(std::span<const std::vector<DepthPick>> picks_per_well,
                                           std::span<const StratHint> hints) {
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
    if (names.empty()) return {};

    // Edges run from the shallower top to the deeper one.
    std::set<std::pair<std::size_t, std::size_t>> edges;
    for (const auto& well : picks_per_well)
        for (std::size_t i = 0; i < well.size(); ++i)
            for (std::size_t j = i + 1; j < well.size(); ++j) {
                if (well[i].name == well[j].name) continue;
                const std::size_t ni = *node(well[i].name);
                const std::size_t nj = *node(well[j].name);
                if (well[j].md > well[i].md) {
                    edges.emplace(ni, nj);
                } else if (well[j].md < well[i].md) {
                    edges.emplace(nj, ni);
                }
            }

    if (!hints.empty()) {
        std::vector<std::vector<std::size_t>> data_succ(names.size());
        for (const auto& [from, to] : edges) data_succ[from].push_back(to);
        std::vector<char> seen(names.size());
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
                const std::size_t n = stack.back();
                stack.pop_back();
                for (const auto s : data_succ[n]) {
                    if (s == *above) {
                        reached = true;
                        break;
                    }
                    if (!seen[s]) {
                        seen[s] = 1;
                        stack.push_back(s);
                    }
                }
            }
            if (!reached) edges.emplace(*above, *below);
        }
    }

    std::vector<std::vector<std::size_t>> succ(names.size());
    std::vector<std::size_t> indegree(names.size(), 0);
    for (const auto& [from, to] : edges) {
        succ[from].push_back(to);
        ++indegree[to];
    }
    std::vector<char> placed(names.size(), 0);
    std::vector<std::string> order;
    order.reserve(names.size());
    for (std::size_t round = 0; round < names.size(); ++round) {
        std::size_t pick = names.size();
        for (std::size_t k = 0; k < names.size(); ++k)
            if (!placed[k] && indegree[k] == 0) {
                pick = k;
                break;
            }
        if (pick == names.size()) {
            // Only cycles remain: break one at its earliest-seen member.
            for (std::size_t k = 0; k < names.size(); ++k)
                if (!placed[k]) {
                    pick = k;
                    break;
                }
        }
        placed[pick] = 1;
        order.push_back(names[pick]);
        for (const auto s : succ[pick])
            if (!placed[s] && indegree[s] > 0) --indegree[s];
    }
    return order;
}

}  // namespace wells

}  // namespace vz
