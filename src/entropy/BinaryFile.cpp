#include "entropy/BinaryFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "foundation/Error.h"
#include "foundation/Names.h"

namespace {
constexpr int32_t kEndHitsPassed = 4;   // reads that may meet the end before one throws
constexpr size_t kHistoryKeep = 16;     // bytes kept from before the latest stdin read

}  // namespace

BinaryFile::BinaryFile(const std::string& name, bool forRead) {
    open(name, forRead);
}

BinaryFile::BinaryFile(std::FILE* stream, const std::string& name)
    : file(stream), fileName(name), forRead(false) {}

BinaryFile::~BinaryFile() {
    if (file != nullptr && !isStdio) std::fclose(file);
}

void BinaryFile::open(const std::string& name, bool read) {
    if (file != nullptr && !isStdio) std::fclose(file);
    file = nullptr;
    forRead = read;
    fileName = name;
    isStdio = name.empty();
    inOrder = isStdio && forRead;
    if (isStdio) {
        file = forRead ? stdin : stdout;
    } else if (!forRead) {
        file = std::fopen(name.c_str(), "wb");
        if (file == nullptr)
            throw Error("Cannot open output file " + baseName(name) + " (" + std::strerror(errno) + ").");
    } else {
        file = std::fopen(name.c_str(), "rb");
        if (file == nullptr) throw Error("File " + baseName(name) + " not found.", Error::Subject::input);
        struct stat info {};
        if (::fstat(::fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
            std::fclose(file);
            file = nullptr;
            throw Error("Error - " + baseName(name) + " is a directory, not a file.", Error::Subject::input);
        }
        // A FIFO, pipe or device delivers its bytes once: it is read like standard input.
        inOrder = !S_ISREG(info.st_mode);
    }
    byteCount = 0;
    eofHits = 0;
    pendingBytes = 0;
    missing = 0;
    writeFailure = 0;
}

// Keeps the system's reason for the first failure, taken before another call changes errno.
void BinaryFile::noteWriteFailure() {
    if (writeFailure == 0) writeFailure = errno;
}

void BinaryFile::write(const void* data, int32_t n) {
    if (n <= 0 || std::ferror(file)) return;
    if (std::fwrite(data, 1, static_cast<size_t>(n), file) != static_cast<size_t>(n)) noteWriteFailure();
}

void BinaryFile::writeByte(int32_t v) {
    if (std::ferror(file)) return;
    if (std::fputc(v & 0xFF, file) == EOF) noteWriteFailure();
}

void BinaryFile::writeInt32(int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    const uint8_t bytes[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8),
                              static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 24)};
    write(bytes, 4);
}

// A read error counts like the end of the stream, so every reading loop ends.
bool BinaryFile::streamEnded() const {
    return std::feof(file) || std::ferror(file);
}

void BinaryFile::applyEndOfFileRule() {
    if (!streamEnded()) return;
    const int32_t hits = eofHits++;
    if (hits >= kEndHitsPassed) throw Error("Error - unexpected end of file.");
}

// Takes up to n new bytes from the stream and zero-fills the rest; returns the count taken.
int32_t BinaryFile::readFresh(uint8_t* data, int32_t n) {
    size_t got = 0;
    if (n > 0 && !std::ferror(file)) got = std::fread(data, 1, static_cast<size_t>(n), file);
    if (n > 0) std::memset(data + got, 0, static_cast<size_t>(n) - got);
    return static_cast<int32_t>(got);
}

int32_t BinaryFile::read(void* out, int32_t n) {
    n = std::max(n, 0);
    uint8_t* data = static_cast<uint8_t*>(out);
    latestReadStart = position();
    if (inOrder) return readInOrder(data, n);
    const int32_t got = readFresh(data, n);
    applyEndOfFileRule();
    return got;
}

// Copies up to n of the bytes due again into data and returns their count.
int32_t BinaryFile::replayPending(uint8_t* data, int32_t n) {
    const size_t size = history.size();
    if (pendingBytes < 0 || static_cast<size_t>(pendingBytes) > size)
        throw Error("Unable to seek - corrupt input file?");
    const int32_t count = std::min(n, pendingBytes);
    if (count > 0)
        std::memcpy(data, history.data() + (size - static_cast<size_t>(pendingBytes)), static_cast<size_t>(count));
    pendingBytes -= count;
    return count;
}

int32_t BinaryFile::readInOrder(uint8_t* data, int32_t n) {
    if (pendingBytes > n) return replayPending(data, n);
    const size_t size = history.size();
    const int32_t replayed = replayPending(data, n);
    const int32_t fresh = n - replayed;
    const int32_t got = readFresh(data + replayed, fresh);
    missing += fresh - got;
    applyEndOfFileRule();
    const size_t keep = std::min(size, kHistoryKeep);
    history.erase(history.begin(), history.end() - static_cast<std::ptrdiff_t>(keep));
    history.insert(history.end(), data, data + n);
    byteCount += fresh;
    return replayed + got;
}

int32_t BinaryFile::readInt32() {
    uint8_t b[4];
    read(b, 4);
    return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                                (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24));
}

int32_t BinaryFile::readInt8() {
    uint8_t b = 0;
    read(&b, 1);
    return static_cast<int8_t>(b);
}

int32_t BinaryFile::readTail(void* out, int32_t n) {
    uint8_t* data = static_cast<uint8_t*>(out);
    // The zeros that stood in for bytes past the end of the stream are not delivered.
    n = std::max(n, 0);
    const int32_t replayed = replayPending(data, std::min(n, std::max(pendingBytes - missing, 0)));
    const int32_t fresh = readFresh(data + replayed, n - replayed);
    byteCount += fresh;
    return replayed + fresh;
}

bool BinaryFile::getByte(char& out) {
    out = static_cast<char>(std::getc(file));
    return !streamEnded();
}

bool BinaryFile::notAtEnd() const {
    return !streamEnded();
}

int32_t BinaryFile::tell() const {
    return static_cast<int32_t>(std::ftell(file));
}

int64_t BinaryFile::position() const {
    // A stream stays at its end, as a file's position does, however far reads go past it.
    if (inOrder) return std::min(int64_t{byteCount} - pendingBytes, bytesTaken());
    return std::ftell(file);
}

bool BinaryFile::seek(int32_t pos) {
    if (std::fseek(file, pos, SEEK_SET) == 0) return true;
    // Seeking an output first writes its buffer, which may fail like any write.
    if (!forRead && std::ferror(file)) noteWriteFailure();
    return false;
}

void BinaryFile::flush() {
    if (forRead) return;
    if (std::fflush(file) != 0) noteWriteFailure();
    if (std::ferror(file)) throwWriteFailed();
}

void BinaryFile::sync() {
    flush();
    if (::fsync(::fileno(file)) != 0) {
        noteWriteFailure();
        throwWriteFailed();
    }
}

void BinaryFile::close() {
    if (isStdio || file == nullptr) return;
    flush();
    std::FILE* closing = file;
    file = nullptr;
    if (std::fclose(closing) != 0 && !forRead) {
        noteWriteFailure();
        throwWriteFailed();
    }
}

void BinaryFile::throwWriteFailed() const {
    const std::string target = isStdio ? std::string("standard output") : "file " + baseName(fileName);
    const std::string reason = writeFailure != 0 ? std::string(" (") + std::strerror(writeFailure) + ")" : "";
    throw Error("Error - cannot write to " + target + reason + ".");
}
