#pragma once

// The whole program behind main: sorts the arguments, then compresses or
// decompresses each named file. Returns the process exit status.
int runCommandLine(int argc, char** argv);
