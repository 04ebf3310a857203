#pragma once
/// Insertion-ordered maps for every name-keyed collection. Removal must keep
/// the order of the others: use `erase`, never `unordered_erase`.

#include <tsl/ordered_map.h>

#include <string>

namespace vz {

template <class K, class V>
using OrderedMap = tsl::ordered_map<K, V>;

}  // namespace vz
