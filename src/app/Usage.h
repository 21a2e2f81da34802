#pragma once
#include <cstdio>

// The fixed console texts of the program, written to the given console stream:
// standard output, or standard error where standard output carries a WAV.
void printBanner(std::FILE* console);
// The banner followed by the usage instructions.
void printUsage(std::FILE* console);
