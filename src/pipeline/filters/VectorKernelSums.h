#pragma once
#include <cstdint>

// The accumulator tree of the vectorised dot products, shared by the kernel files.
// It holds no intrinsics: each kernel file passes its register type's operations as
// Lanes, a struct of its own unnamed namespace, so every instantiation is private to
// one file and compiled with that file's instruction set only.
namespace kernels {

// The wrapping 32-bit lane sums of product(0) .. product(steps - 1), one register.
// The products are independent of each other, so the result waits on the last of
// them only by the adds behind it: four accumulators, combined as a tree, keep those
// chains short, and the last steps, which come last, join near its root. Lanes
// provides zero() and add(a, b) (32-bit lane adds, which wrap).
template <class Lanes, class Product>
auto sumOfSteps(int64_t steps, Product product) {
    auto sum0 = Lanes::zero();
    auto sum1 = sum0, sum2 = sum0, sum3 = sum0;
    int64_t i = 0;
    for (; steps - i >= 4; i += 4) {
        sum0 = Lanes::add(sum0, product(i));
        sum1 = Lanes::add(sum1, product(i + 1));
        sum2 = Lanes::add(sum2, product(i + 2));
        sum3 = Lanes::add(sum3, product(i + 3));
    }
    auto rest = Lanes::zero();
    for (; i < steps; ++i) rest = Lanes::add(rest, product(i));
    return Lanes::add(Lanes::add(Lanes::add(sum0, sum1), Lanes::add(sum2, sum3)), rest);
}

}  // namespace kernels
