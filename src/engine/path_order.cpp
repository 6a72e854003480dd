#include "engine/path_order.h"

#include <algorithm>

namespace vantrove {
namespace {

unsigned char Lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

}  // namespace

int CompareIgnoringCase(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = Lower(static_cast<unsigned char>(a[i]));
        unsigned char y = Lower(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool PathLess::operator()(std::string_view a, std::string_view b) const {
    int c = CompareIgnoringCase(a, b);
    if (c != 0) return c < 0;
    return a < b;
}

}  // namespace vantrove
