#include "foundation/Arith.h"

std::vector<int32_t> pow2Table;

void initPow2Table() {
    if (!pow2Table.empty()) return;
    for (int i = 0; i < 32; ++i) pow2Table.push_back(static_cast<int32_t>(1u << i));
}

int32_t pow2(int i) {
    return pow2Table.at(static_cast<size_t>(i));
}
