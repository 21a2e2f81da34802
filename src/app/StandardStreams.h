#pragma once

// Holds every standard stream (input, output, error) that the caller closed
// open on /dev/null for reading only. Otherwise the next file the program
// opens would take the closed stream's descriptor, and console text meant for
// standard output would be written into that file. Writes to a held stream
// fail, and are reported where they carry data (the WAV of "-cout"); reads find
// the end at once.
void reserveStandardStreams();
