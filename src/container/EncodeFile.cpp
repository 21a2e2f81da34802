#include "container/Drivers.h"

#include "foundation/Error.h"

void encodeFile(const std::string&, const std::string&, bool, bool) {
    throw Error("Error - compressing is not available yet");
}
