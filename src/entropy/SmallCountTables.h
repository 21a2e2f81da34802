#pragma once
#include <cstdint>
#include <vector>

// The cumulative tables of the bin-count coders: frequencies holds tableCount rows
// back to back, row j with j + 2 entries; table j starts at 0 and adds up its row,
// so its last entry is the row's total.
std::vector<std::vector<int32_t>> cumulativeSmallCountTables(const int32_t* frequencies, int32_t tableCount);
