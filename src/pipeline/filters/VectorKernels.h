#pragma once
#include <cstdint>

// The int16 kernels of the sign-sign LMS filters. n is a multiple of 16. All
// arithmetic wraps: weights modulo 2^16, sums modulo 2^32. The plain path defines
// the results; a vectorised path must match it bit for bit.
//
// updateWeights/updateWeights04: w[i] = int16(w[i] - x[i] * mu).
// dotProduct: (sum of a[i] * b[i]) >> 5; dotProduct04: the sum unshifted.
void updateWeights(int16_t* w, const int16_t* x, int n, int mu, bool useMmx);
void updateWeights04(int16_t* w, const int16_t* x, int n, int mu, bool useMmx);
int32_t dotProduct(const int16_t* a, const int16_t* b, int n, bool useMmx);
int32_t dotProduct04(const int16_t* a, const int16_t* b, int n, bool useMmx);

// Whether filters use the vectorised path; taken by each filter at construction.
bool mmxAvailable();
