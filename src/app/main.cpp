#include "app/CommandLine.h"
#include "app/StandardStreams.h"

int main(int argc, char** argv) {
    reserveStandardStreams();
    return runCommandLine(argc, argv);
}
