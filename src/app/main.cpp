#include "app/CommandLine.h"
#include "app/StandardStreams.h"
#include "container/PendingOutput.h"

int main(int argc, char** argv) {
    reserveStandardStreams();
    installInterruptCleanup();
    return runCommandLine(argc, argv);
}
