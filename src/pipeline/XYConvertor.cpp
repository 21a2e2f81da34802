#include "pipeline/XYConvertor.h"

#include <limits>

// The stored generation-02 format was produced with x87 extended precision: the
// product and the sum are formed with a 64-bit significand, each rounded to
// nearest, and the result is rounded to a double only when stored.
static_assert(std::numeric_limits<long double>::digits == 64,
              "DecayingSum needs a 64-bit-significand long double (x86 extended precision)");

void DecayingSum::update(bool equalPair) {
    const long double product = static_cast<long double>(value) * static_cast<long double>(factor);
    const long double sum = product + (equalPair ? 1.0L : -1.0L);
    value = static_cast<double>(sum);
}
