#include "container/ChunkTail.h"

#include <algorithm>

void ChunkTail::feed(const char* bytes, size_t count) {
    fed += static_cast<int64_t>(count);
    for (size_t at = 0; at < count;) {
        if (bodyLeft > 0) {
            const size_t body = static_cast<size_t>(std::min<int64_t>(bodyLeft, static_cast<int64_t>(count - at)));
            bodyLeft -= static_cast<int64_t>(body);
            at += body;
        } else if (padDue) {
            padDue = false;
            ++at;
        } else {
            header[headerBytes++] = static_cast<uint8_t>(bytes[at++]);
            if (headerBytes < sizeof header) continue;
            headerBytes = 0;
            const uint32_t size = header[4] | (header[5] << 8) | (header[6] << 16) | (uint32_t{header[7]} << 24);
            bodyLeft = size;
            padDue = size % 2 != 0;
        }
    }
}
