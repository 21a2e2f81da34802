#pragma once

// The fixed console texts of the program, written to standard output.
void printBanner();
// The banner followed by the usage instructions.
void printUsage();
