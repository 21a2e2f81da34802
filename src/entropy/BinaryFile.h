#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The byte stream under every file the program reads or writes: a named file, or for an
// empty name standard input (reading) or standard output (writing). Multi-byte values
// are little-endian.
//
// An input is read straight from its descriptor through a buffer of its own, so that
// every read of the system that fails is seen where it fails: a buffered stream of the
// C library also reads in its seeks, and goes on past a read that failed there.
//
// Reading an input that cannot seek (standard input, or a named FIFO, pipe or device)
// keeps a push-back history (up to 16 bytes of the stream before the latest read, then
// that read's bytes: each byte once, in the stream's order) and counts the bytes taken
// from the stream, so the container reader can step back to a segment start without
// seeking.
class BinaryFile {
public:
    BinaryFile(const std::string& name, bool forRead);
    // Writes to a stream the caller opened, owned from now on; messages name it as given.
    BinaryFile(std::FILE* stream, const std::string& name);
    ~BinaryFile();
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;

    // Binds to a stream; a named file held before is closed first. A named output is
    // created or truncated: whether it may be is the caller's decision. Throws Error
    // when the file cannot be opened: "not found" when nothing stands under the name,
    // else with the system's reason.
    void open(const std::string& name, bool forRead);
    // Closes a named output; throws Error when a write, the flush or the close failed.
    void close();
    // Flushes an output and has the system write it to the disk; throws Error when a
    // write, the flush or the sync failed.
    void sync();

    // Writes do nothing once the stream's error indicator is set; flush reports it.
    void write(const void* data, int32_t n);
    void writeByte(int32_t v);
    void writeInt32(int32_t v);
    // Keeps the system's reason of a write to the stream that failed just now, unless an
    // earlier failure's is kept: a write the stream's handle took straight from a coder.
    void noteWriteFailure();

    // Reads n bytes and returns how many were delivered; the bytes after those are zero.
    // The fifth read that meets the end of the stream throws "Error - unexpected end of
    // file.". A read error throws at once with the system's reason, and so does a named
    // file that ends before the length it had when it was opened (it was cut meanwhile):
    // no zeros stand in for bytes the file should hold.
    int32_t read(void* data, int32_t n);
    int32_t readInt32();
    int32_t readInt8();  // sign-extended
    // Up to n bytes, those due again first, without the end-of-file rule: the bytes after
    // the coded blocks, which end where the stream ends. Returns the count delivered.
    int32_t readTail(void* data, int32_t n);

    // One byte straight from the stream, bypassing history and counters; false at the
    // end of the stream. Throws like read on a read error or a file cut meanwhile.
    bool getByte(char& out);
    // The same for a decoder's bytes: the byte, or -1 at the end of the stream. Throws
    // on a read error only.
    int takeByte() { return next != last ? *next++ : takeAfterFill(); }
    bool notAtEnd() const;
    // Throws the Error of an input that ended before the bytes asked for (a read error
    // has thrown already): a file cut meanwhile, or else "Error - unexpected end of file.".
    [[noreturn]] void throwEndOfInput() const;

    int32_t tell() const;
    // The position in the input, in a file or a stream alike: the next byte a read
    // delivers (the end of the input once a read went past it).
    int64_t position() const;
    // Bytes really taken from the stream: byteCount less the zeros that stood in for
    // bytes past its end.
    int64_t bytesTaken() const { return int64_t{byteCount} - missing; }
    // Positions at pos from the start; true when the stream accepted the position.
    // The end-of-file count, byteCount and pendingBytes are kept.
    bool seek(int32_t pos);
    // Positions a named input at pos as a fresh open would, on the descriptor it
    // holds: the end-of-file indicator and count start again. True when the stream
    // accepted the position.
    bool restartAt(int64_t pos);
    // The length of a named regular file when it was opened; -1 for any other input.
    int64_t length() const { return fileLength; }
    // Flushes an output; throws Error when a write or the flush failed.
    void flush();
    // Throws the Error of a write that failed on this output, with the system's reason.
    [[noreturn]] void throwWriteFailed() const;

    // Bytes of the push-back history; pendingBytes must not exceed it.
    int32_t historyLength() const { return static_cast<int32_t>(history.size()); }
    // True for an input read in order only, through the history: standard input, or a
    // named input that is no regular file. Such an input is never opened again or sought.
    bool sequential() const { return inOrder; }

    // The stream an output is written through (a coder puts its bytes straight to
    // it); none for an input.
    std::FILE* file = nullptr;
    // Bytes taken from the stream: reads from standard input and every byte a range
    // decoder takes count here.
    int32_t byteCount = 0;
    // Bytes at the end of the history that the next reads deliver again.
    int32_t pendingBytes = 0;

private:
    void closeHeld();
    size_t readDescriptor(uint8_t* into, size_t n);
    bool fill();
    int takeAfterFill();
    bool streamEnded() const;
    void applyEndOfFileRule();
    void checkShortRead() const;
    [[noreturn]] void throwReadFailed(int error) const;
    std::string inputLabel() const;
    int32_t readInOrder(uint8_t* data, int32_t n);
    int32_t replayPending(uint8_t* data, int32_t n);
    int32_t readFresh(uint8_t* data, int32_t n);

    // Reading: the descriptor, the bytes read from it and not yet delivered (next to
    // last, at the end of what the latest read put into the buffer) and where it stands.
    int descriptor = -1;
    std::vector<uint8_t> buffer;
    const uint8_t* next = nullptr;
    const uint8_t* last = nullptr;
    int64_t descriptorAt = 0;
    // A read of the descriptor returned nothing: the stream's end. Reads after it take
    // nothing more until a seek.
    bool endMet = false;

    std::vector<uint8_t> history;
    std::string fileName;
    bool forRead = true;
    bool isStdio = false;
    bool inOrder = false;
    int32_t eofHits = 0;
    // Bytes counted in byteCount that the stream did not have: the zeros a short
    // read put in their place, at the end of what was taken.
    int32_t missing = 0;
    int64_t fileLength = -1;
    // errno of the first write, flush, sync or close that failed; 0 while none did.
    int writeFailure = 0;
};
