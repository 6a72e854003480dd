#include "rs/galois_field.h"

#include <array>

#include "rs/log_tables.h"

namespace vantrove {
namespace {

struct Gf16Tables : LogTables<uint16_t, kGf16Order, kGf16Polynomial> {
    std::array<uint16_t, kGf16MaxInputs> baseLog{};
};

constexpr bool CoprimeTo65535(uint32_t j) {
    // 65535 = 3 * 5 * 17 * 257
    return j % 3 != 0 && j % 5 != 0 && j % 17 != 0 && j % 257 != 0;
}

constexpr Gf16Tables BuildGf16Tables() {
    Gf16Tables t;
    uint32_t k = 0;
    for (uint32_t j = 1; j < kGf16Order && k < kGf16MaxInputs; ++j) {
        if (CoprimeTo65535(j)) t.baseLog[k++] = static_cast<uint16_t>(j);
    }
    return t;
}

constinit const Gf16Tables kTables = BuildGf16Tables();

}  // namespace

uint16_t Gf16Log(uint16_t value) {
    return kTables.log[value];
}
uint16_t Gf16Antilog(uint16_t exponent) {
    return kTables.antilog[exponent];
}

const uint16_t* Gf16AntilogTable() {
    return kTables.antilog.data();
}

uint16_t Gf16Multiply(uint16_t a, uint16_t b) {
    if (a == 0 || b == 0) return 0;
    uint32_t s = uint32_t{kTables.log[a]} + kTables.log[b];
    if (s >= kGf16Order) s -= kGf16Order;
    return kTables.antilog[s];
}

uint16_t Gf16Divide(uint16_t a, uint16_t b) {
    if (a == 0 || b == 0) return 0;  // b = 0 is a caller error; never produce garbage
    int32_t d = int32_t{kTables.log[a]} - kTables.log[b];
    if (d < 0) d += kGf16Order;
    return kTables.antilog[d];
}

uint16_t Gf16Power(uint16_t base, uint16_t exponent) {
    if (base == 0) return 0;
    uint32_t x = uint32_t{exponent} * kTables.log[base];
    uint32_t f = (x >> 16) + (x & 0xFFFF);
    if (f >= kGf16Order) f -= kGf16Order;
    return kTables.antilog[f];
}

uint16_t Gf16Inverse(uint16_t a) {
    return Gf16Divide(1, a);
}

uint16_t Gf16InputBaseLog(uint32_t k) {
    return k < kGf16MaxInputs ? kTables.baseLog[k] : 0;
}

uint16_t Gf16InputBase(uint32_t k) {
    return kTables.antilog[Gf16InputBaseLog(k)];
}

}  // namespace vantrove
