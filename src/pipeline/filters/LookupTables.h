#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

// Process-wide step and compress tables of the filters. Each is empty until its
// builder runs (from the constructor of the first filter that reads it) and is
// then read-only for the rest of the run. Readers add the table's centre to
// their value and must keep the index inside the table.

extern std::vector<int8_t> quickStepTable02;          // 262144 entries, centre 131072
extern std::vector<int8_t> quickCompressTable02;      // 262144, centre 131072
extern std::vector<int8_t> quickStepTable03;          // 8192, centre 4096
extern std::vector<int8_t> quickCompressTable03;      // 262144, centre 131072
extern std::vector<int8_t> quickHalfCompressTable03;  // 262144, centre 131072
extern std::vector<int8_t> quickMagnitudeTable04;     // 16384, centre 8192
extern std::vector<int8_t> quickCompressTable04;      // 262144, centre 131072
extern std::vector<uint16_t> bigStepTable04;          // 65536, no centre
extern std::vector<int8_t> bigUpdateTable04;          // 32768, centre 16384
extern std::vector<int8_t> bigCompressTable04;        // 131072, centre 65536
extern std::vector<int8_t> bigCompressTable02;        // 131072, centre 65536
extern std::vector<int8_t> bigStepTable03;            // 8192, centre 4096

void buildQuickStepTable02();
void buildQuickCompressTable02();
void buildQuickStepTable03();
void buildQuickCompressTables03();  // fills quickCompressTable03 and quickHalfCompressTable03
void buildQuickMagnitudeTable04();
void buildQuickCompressTable04();
void buildBigUpdateTable04();
void buildBigCompressTable04();
void buildBigStepTable04();
void buildBigCompressTable02();
void buildBigStepTable03();

// Index of bigStepTable04 for a fast error level, shared by the long filters that
// read the table. The level is bounded above by the table; it goes negative only
// after 63 * fastError wraps (damaged input), and such an index is held at the
// table's first entry.
inline int32_t bigStepIndex04(int32_t fastError) { return std::clamp((fastError + 32) >> 6, 0, 65535); }
