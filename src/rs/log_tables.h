#pragma once
// LogTables: the log and antilog tables of a binary field GF(2^n) whose
// primitive element is 2, built at compile time. Both code fields take
// theirs from here.

#include <array>
#include <cstdint>

namespace vantrove {

// `Order` is 2^n − 1, `Polynomial` the field's polynomial with its x^n term.
template <typename Element, uint32_t Order, uint32_t Polynomial>
struct LogTables {
    // log[v] for v != 0, and the sentinel `Order` for 0; antilog[i] = 2^i
    // for i < Order, and the sentinel 0 at Order.
    std::array<Element, Order + 1> log{};
    std::array<Element, Order + 1> antilog{};

    constexpr LogTables() {
        uint32_t v = 1;
        for (uint32_t i = 0; i < Order; ++i) {
            log[v] = static_cast<Element>(i);
            antilog[i] = static_cast<Element>(v);
            v <<= 1;
            if (v > Order) v ^= Polynomial;
        }
        log[0] = static_cast<Element>(Order);
        antilog[Order] = 0;
    }
};

}  // namespace vantrove
