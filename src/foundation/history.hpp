#pragma once
/// The operation history carried by logs, surfaces, point and polygon sets:
/// human-readable entries, oldest first. Entries are only ever appended.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vz {

class History {
public:
    History() = default;
    explicit History(std::vector<std::string> entries) : entries_(std::move(entries)) {}

    /// A history holding exactly one entry.
    static History make(std::string entry);
    /// A copy of `source` followed by one new entry; `source` is unchanged.
    static History derive(const History& source, std::string entry);
    /// `derive` for a source the caller hands over: its entries are moved,
    /// then the new entry is appended.
    static History derive_owned(History source, std::string entry);
    /// Appends every entry of `other` to `target` as "<prefix>.<entry>".
    static void extend_prefixed(History& target, std::string_view prefix, const History& other);

    /// Appends one entry.
    void push(std::string entry) { entries_.push_back(std::move(entry)); }

    const std::vector<std::string>& entries() const { return entries_; }
    std::vector<std::string>& entries_mut() { return entries_; }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

    bool operator==(const History&) const = default;

private:
    std::vector<std::string> entries_;
};

}  // namespace vz
