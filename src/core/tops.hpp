#pragma once
/// Ranks of top names in a bore's stratigraphic order, shared by the sorting
/// of tops and of zones. Internal to the well model.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vz::detail {

/// Position of each name in an order (exact bytes; a name listed twice keeps
/// its later position). Views the order's texts: must not outlive it.
class TopRanks {
public:
    explicit TopRanks(const std::vector<std::string>& order) {
        ranks_.reserve(order.size());
        for (std::size_t i = 0; i < order.size(); ++i) ranks_[order[i]] = i;
    }

    /// The rank of `name`, or absent when it is not listed.
    std::optional<std::size_t> rank(std::string_view name) const {
        auto it = ranks_.find(name);
        if (it == ranks_.end()) return std::nullopt;
        return it->second;
    }

    /// A sort key: the rank, or one past every rank for an unlisted name.
    std::size_t key(std::string_view name) const {
        auto it = ranks_.find(name);
        return it == ranks_.end() ? static_cast<std::size_t>(-1) : it->second;
    }

private:
    std::unordered_map<std::string_view, std::size_t> ranks_;
};

}  // namespace vz::detail
