#pragma once
// Constant tables that pair a value, usually an enumerator, with what it
// stands for (a text, a string id), written as a list of pairs in place of a
// long switch statement. Pure functions on constant data; any thread.

#include <cstddef>
#include <type_traits>
#include <utility>

namespace vantrove {

// The value paired with the first `key` in `table`, or `otherwise` when the
// table does not list it.
template <typename Key, typename Value, size_t N>
constexpr Value LookUp(const std::pair<Key, Value> (&table)[N], std::type_identity_t<Key> key,
                       std::type_identity_t<Value> otherwise) {
    for (const auto& [listed, value] : table) {
        if (listed == key) return value;
    }
    return otherwise;
}

}  // namespace vantrove
