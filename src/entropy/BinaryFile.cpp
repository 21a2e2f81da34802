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
    fileLength = -1;
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
        if (file == nullptr) {
            if (errno == ENOENT || errno == ENOTDIR) throw Error("File " + baseName(name) + " not found.", Error::Subject::input);
            throwReadFailed(errno);
        }
        struct stat info {};
        const int statError = ::fstat(::fileno(file), &info) != 0 ? errno : 0;
        if (statError != 0 || S_ISDIR(info.st_mode)) {
            std::fclose(file);
            file = nullptr;
            if (statError != 0) throwReadFailed(statError);
            throw Error("Error - " + baseName(name) + " is a directory, not a file.", Error::Subject::input);
        }
        // A FIFO, pipe or device delivers its bytes once: it is read like standard input.
        inOrder = !S_ISREG(info.st_mode);
        // The length of the file opened, whatever the name stands for later.
        if (!inOrder) fileLength = static_cast<int64_t>(info.st_size);
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

// A stream that flushes at a line end reports all bytes written even when that
// flush failed: its error indicator tells.
void BinaryFile::write(const void* data, int32_t n) {
    if (n <= 0 || std::ferror(file)) return;
    if (std::fwrite(data, 1, static_cast<size_t>(n), file) != static_cast<size_t>(n) || std::ferror(file))
        noteWriteFailure();
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

// The end of the stream, or a read error, which the reads throw at once.
bool BinaryFile::streamEnded() const {
    return std::feof(file) || std::ferror(file);
}

void BinaryFile::applyEndOfFileRule() {
    if (!streamEnded()) return;
    const int32_t hits = eofHits++;
    if (hits >= kEndHitsPassed) throw Error("Error - unexpected end of file.");
}

// Takes up to n new bytes from the stream and zero-fills the rest; returns the count taken.
// Fewer bytes than asked for are the end of the input, and nothing else.
int32_t BinaryFile::readFresh(uint8_t* data, int32_t n) {
    if (n <= 0) return 0;
    const size_t got = std::fread(data, 1, static_cast<size_t>(n), file);
    if (got < static_cast<size_t>(n)) {
        checkShortRead();
        std::memset(data + got, 0, static_cast<size_t>(n) - got);
    }
    return static_cast<int32_t>(got);
}

// A read error, or a named file that ends before its length at opening, ends the
// input with its own message.
void BinaryFile::checkShortRead() const {
    if (std::ferror(file)) throwReadFailed(errno);
    if (fileLength < 0) return;
    const int64_t end = std::ftell(file);
    if (end >= 0 && end < fileLength)
        throw Error("Error - " + inputLabel() + " was cut while it was read: it ends after " + std::to_string(end) +
                    " of the " + std::to_string(fileLength) + " bytes it had when it was opened.",
                    Error::Subject::input);
}

std::string BinaryFile::inputLabel() const {
    return isStdio ? std::string("standard input") : "file " + baseName(fileName);
}

void BinaryFile::throwReadFailed(int error) const {
    throw Error("Error - " + inputLabel() + " cannot be read (" + std::strerror(error) + ").", Error::Subject::input);
}

void BinaryFile::throwEndOfInput() const {
    checkShortRead();
    throw Error("Error - unexpected end of file.");
}

int32_t BinaryFile::read(void* out, int32_t n) {
    n = std::max(n, 0);
    uint8_t* data = static_cast<uint8_t*>(out);
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
    const int32_t replayed = replayPending(data, n);
    // The bytes delivered again stand at the end of the history already: they are
    // taken out of it, so that the read puts them back once, in their place.
    const size_t before = history.size() - static_cast<size_t>(replayed);
    const int32_t fresh = n - replayed;
    const int32_t got = readFresh(data + replayed, fresh);
    missing += fresh - got;
    applyEndOfFileRule();
    const size_t keep = std::min(before, kHistoryKeep);
    history.erase(history.begin() + static_cast<std::ptrdiff_t>(before), history.end());
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
    const int c = std::getc(file);
    out = static_cast<char>(c);
    if (c != EOF) return true;
    checkShortRead();
    return false;
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

bool BinaryFile::restartAt(int64_t pos) {
    if (pos < 0 || pos > INT32_MAX || !seek(static_cast<int32_t>(pos))) return false;
    std::clearerr(file);
    eofHits = 0;
    return true;
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
