#pragma once
#include <cstddef>
#include <cstdint>

// Follows the chunks after a WAV file's samples as their bytes go by. A file one
// byte short of its RIFF size is then told apart: writers often leave out the pad
// byte after a last chunk of odd size, but a byte missing from a chunk's body is
// lost data. The bytes are taken to start at a chunk's header, as they do after a
// data chunk of even size.
class ChunkTail {
public:
    void feed(const char* bytes, size_t count);
    // Bytes fed so far.
    int64_t length() const { return fed; }
    // True when the bytes end right before the pad byte of an odd-sized chunk.
    bool endsBeforePadByte() const { return headerBytes == 0 && bodyLeft == 0 && padDue; }

private:
    uint8_t header[8] = {};
    size_t headerBytes = 0;  // bytes of the next chunk's header seen so far
    int64_t bodyLeft = 0;    // bytes of the current chunk's body still to come
    bool padDue = false;     // the current chunk's size is odd and its pad byte has not come
    int64_t fed = 0;
};
