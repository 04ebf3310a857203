#include "foundation/history.hpp"

namespace vz {

History History::make(std::string entry) {
    History h;
    h.entries_.push_back(std::move(entry));
    return h;
}

History History::derive(const History& source, std::string entry) {
    History h;
    h.entries_.reserve(source.entries_.size() + 1);
    h.entries_ = source.entries_;
    h.entries_.push_back(std::move(entry));
    return h;
}

History History::derive_owned(History source, std::string entry) {
    source.entries_.push_back(std::move(entry));
    return source;
}

void History::extend_prefixed(History& target, std::string_view prefix, const History& other) {
    target.entries_.reserve(target.entries_.size() + other.entries_.size());
    for (const auto& e : other.entries_) {
        std::string s;
        s.reserve(prefix.size() + 1 + e.size());
        s.append(prefix);
        s.push_back('.');
        s.append(e);
        target.entries_.push_back(std::move(s));
    }
}

}  // namespace vz
