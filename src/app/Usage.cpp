#include "app/Usage.h"

#include <cstdio>

void printBanner(std::FILE* console) {
    std::fputs("\nQo Compresser\n", console);
    std::fputs("Version 0.4\n", console);
    std::fputs("\n", console);
}

void printUsage(std::FILE* console) {
    printBanner(console);
    std::fputs("Usage instructions ...\n\n", console);
    std::fputs("qo [flags] input-filename [output-filename]\n\n", console);
    std::fputs("Flags\n", console);
    std::fputs(" -high      - high compression mode - slower, but better compression\n", console);
    std::fputs(" -overwrite - automatically overwrite existing files\n", console);
    std::fputs(" -cin       - when decoding/encoding, use console input\n", console);
    std::fputs(" -cout      - when decoding,          use console output\n", console);
    std::fputs(" -cinout    - when decoding, use console input+output\n", console);
    std::fputs(" -noseek    - disable seeking (improves compression slightly)\n", console);
    std::fputs(" -nohead    - when decoding, disables outputting of .wav headers\n\n", console);
    std::fputs("Example usage\n", console);
    std::fputs("  qo foo.wav          - compress   foo.wav to foo.qo\n", console);
    std::fputs("  qo foo.qo           - decompress foo.qo  to foo.wav\n", console);
    std::fputs("  qo -overwrite *.wav - compress all .wavs in directory, replacing\n", console);
    std::fputs("                        any existing .qo files.\n", console);
    std::fputs("  ", console);
    std::fputs("cat ", console);
    std::fputs(" foo.qo | qo -cinout > foo.wav - decompress foo.qo to foo.wav\n", console);
    std::fflush(console);
}
