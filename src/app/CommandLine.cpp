#include "app/CommandLine.h"

#include "foundation/Arith.h"

int runCommandLine(int, char**) {
    initPow2Table();
    return 0;
}
