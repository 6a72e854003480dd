#include "engine/path_order.h"

namespace vantrove {

bool PathLess::operator()(std::string_view a, std::string_view b) const {
    int c = CompareIgnoringCase(a, b);
    if (c != 0) return c < 0;
    return a < b;
}

}  // namespace vantrove
