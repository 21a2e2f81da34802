#include "app/CommandLine.h"
#include "app/StandardStreams.h"
#include "container/InterruptCleanup.h"

int main(int argc, char** argv) {
    reserveStandardStreams();
    installInterruptCleanup();
    return runCommandLine(argc, argv);
}
