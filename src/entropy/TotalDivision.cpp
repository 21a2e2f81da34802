#include "entropy/TotalDivision.h"

#if defined(__SIZEOF_INT128__)
namespace totaldivision {

uint64_t reciprocals[kLargestTabled + 1];

namespace {

// Filled during static initialisation, before any coder exists.
struct Builder {
    Builder() {
        constexpr uint64_t twoTo63 = uint64_t{1} << 63;
        for (uint32_t d = 1; d <= kLargestTabled; ++d) reciprocals[d] = (twoTo63 - 1) / d + 1;
    }
} builder;

}  // namespace
}  // namespace totaldivision
#endif
