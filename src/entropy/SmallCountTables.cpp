#include "entropy/SmallCountTables.h"

std::vector<std::vector<int32_t>> cumulativeSmallCountTables(const int32_t* frequencies, int32_t tableCount) {
    std::vector<std::vector<int32_t>> tables;
    const int32_t* row = frequencies;
    for (int32_t j = 0; j < tableCount; ++j) {
        std::vector<int32_t> table{0};
        for (int32_t s = 0; s < j + 2; ++s) table.push_back(table.back() + *row++);
        tables.push_back(std::move(table));
    }
    return tables;
}
