#pragma once

// The whole program behind main: sorts the arguments, then compresses or
// decompresses each named file. Returns the process exit status: 0 when every
// file was done without an error or checksum warning, 1 otherwise, 255 for
// invalid arguments.
int runCommandLine(int argc, char** argv);
