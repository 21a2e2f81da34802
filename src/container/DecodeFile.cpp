#include "container/Drivers.h"

#include "foundation/Error.h"

bool decodeFile(const std::string&, const std::string&) {
    throw Error("Error - decompressing is not available yet");
}
