#pragma once
// The sixteen 32-bit patterns with which working memory is tested before a
// recovery computation trusts it, in the order they are written.

#include <cstdint>

namespace vantrove {

inline constexpr uint32_t kMemoryTestPatterns[16] = {
    0x99999999, 0x66666666, 0xDDDDDDDD, 0x22222222, 0xAAAAAAAA, 0x55555555, 0xBBBBBBBB, 0x44444444,
    0x88888888, 0x77777777, 0xCCCCCCCC, 0x33333333, 0xEEEEEEEE, 0x11111111, 0xFFFFFFFF, 0x00000000};

}  // namespace vantrove
