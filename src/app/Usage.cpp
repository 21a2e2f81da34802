#include "app/Usage.h"

#include <cstdio>

void printBanner() {
    std::fputs("\nQo Compresser\n", stdout);
    std::fputs("Version 0.4\n", stdout);
    std::fputs("\n", stdout);
}

void printUsage() {
    printBanner();
    std::fputs("Usage instructions ...\n\n", stdout);
    std::fputs("qo [flags] input-filename [output-filename]\n\n", stdout);
    std::fputs("Flags\n", stdout);
    std::fputs(" -high      - high compression mode - slower, but better compression\n", stdout);
    std::fputs(" -overwrite - automatically overwrite existing files\n", stdout);
    std::fputs(" -cin       - when decoding/encoding, use console input\n", stdout);
    std::fputs(" -cout      - when decoding,          use console output\n", stdout);
    std::fputs(" -cinout    - when decoding, use console input+output\n", stdout);
    std::fputs(" -noseek    - disable seeking (improves compression slightly)\n", stdout);
    std::fputs(" -nohead    - when decoding, disables outputting of .wav headers\n\n", stdout);
    std::fputs("Example usage\n", stdout);
    std::fputs("  qo foo.wav          - compress   foo.wav to foo.qo\n", stdout);
    std::fputs("  qo foo.qo           - decompress foo.qo  to foo.wav\n", stdout);
    std::fputs("  qo -overwrite *.wav - compress all .wavs in directory, replacing\n", stdout);
    std::fputs("                        any existing .qo files.\n", stdout);
    std::fputs("  ", stdout);
    std::fputs("cat ", stdout);
    std::fputs(" foo.qo | qo -cinout > foo.wav - decompress foo.qo to foo.wav\n", stdout);
    std::fflush(stdout);
}
