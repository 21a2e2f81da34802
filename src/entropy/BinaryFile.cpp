#include "entropy/BinaryFile.h"

#include <fcntl.h>
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
constexpr size_t kBufferSize = 4096;    // bytes an input's read of the system asks for

}  // namespace

BinaryFile::BinaryFile(const std::string& name, bool forRead) {
    open(name, forRead);
}

BinaryFile::BinaryFile(std::FILE* stream, const std::string& name)
    : file(stream), fileName(name), forRead(false) {}

BinaryFile::~BinaryFile() {
    closeHeld();
}

void BinaryFile::closeHeld() {
    if (!isStdio && file != nullptr) std::fclose(file);
    if (!isStdio && descriptor >= 0) ::close(descriptor);
    file = nullptr;
    descriptor = -1;
}

void BinaryFile::open(const std::string& name, bool read) {
    closeHeld();
    fileLength = -1;
    forRead = read;
    fileName = name;
    isStdio = name.empty();
    inOrder = isStdio && forRead;
    if (isStdio && forRead) {
        descriptor = STDIN_FILENO;
    } else if (isStdio) {
        file = stdout;
    } else if (!forRead) {
        file = std::fopen(name.c_str(), "wb");
        if (file == nullptr)
            throw Error("Cannot open output file " + baseName(name) + systemReason(errno) + ".");
    } else {
        descriptor = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) {
            if (errno == ENOENT || errno == ENOTDIR) throw Error("File " + baseName(name) + " not found.", Error::Subject::input);
            throwReadFailed(errno);
        }
        struct stat info {};
        const int statError = ::fstat(descriptor, &info) != 0 ? errno : 0;
        if (statError != 0 || S_ISDIR(info.st_mode)) {
            closeHeld();
            if (statError != 0) throwReadFailed(statError);
            throw Error("Error - " + baseName(name) + " is a directory, not a file.", Error::Subject::input);
        }
        // A FIFO, pipe or device delivers its bytes once: it is read like standard input.
        inOrder = !S_ISREG(info.st_mode);
        // The length of the file opened, whatever the name stands for later.
        if (!inOrder) fileLength = static_cast<int64_t>(info.st_size);
    }
    if (forRead) buffer.resize(kBufferSize);
    next = last = buffer.data();
    descriptorAt = 0;
    endMet = false;
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

// One read of the system, whose failure ends the input at once with its reason.
size_t BinaryFile::readDescriptor(uint8_t* into, size_t n) {
    const ssize_t got = ::read(descriptor, into, n);
    if (got < 0) throwReadFailed(errno);
    if (got == 0) endMet = true;
    descriptorAt += got;
    return static_cast<size_t>(got);
}

// Refills the empty buffer; false when the stream had nothing more. At the end the
// bytes the buffer held stay there, for a seek back among them.
bool BinaryFile::fill() {
    if (endMet) return false;
    const size_t got = readDescriptor(buffer.data(), buffer.size());
    if (got == 0) return false;
    next = buffer.data();
    last = next + got;
    return true;
}

int BinaryFile::takeAfterFill() {
    return fill() ? *next++ : -1;
}

bool BinaryFile::streamEnded() const {
    return endMet;
}

void BinaryFile::applyEndOfFileRule() {
    if (!streamEnded()) return;
    const int32_t hits = eofHits++;
    if (hits >= kEndHitsPassed) throw Error("Error - unexpected end of file.");
}

// Takes up to n new bytes from the stream and zero-fills the rest; returns the count taken.
// Fewer bytes than asked for are the end of the input, and nothing else. A request the
// buffer cannot hold is read straight into its place.
int32_t BinaryFile::readFresh(uint8_t* data, int32_t n) {
    if (n <= 0) return 0;
    const size_t wanted = static_cast<size_t>(n);
    size_t got = 0;
    while (got < wanted) {
        if (next != last) {
            const size_t piece = std::min(wanted - got, static_cast<size_t>(last - next));
            std::memcpy(data + got, next, piece);
            next += piece;
            got += piece;
        } else if (wanted - got < buffer.size()) {
            if (!fill()) break;
        } else {
            if (endMet) break;
            // The buffer no longer holds the bytes right before the descriptor's place.
            next = last = buffer.data();
            const size_t piece = readDescriptor(data + got, wanted - got);
            if (piece == 0) break;
            got += piece;
        }
    }
    if (got < wanted) {
        checkShortRead();
        std::memset(data + got, 0, wanted - got);
    }
    return static_cast<int32_t>(got);
}

// A named file that ends before its length at opening ends the input with its own message.
void BinaryFile::checkShortRead() const {
    if (fileLength < 0) return;
    const int64_t end = position();
    if (end < fileLength)
        throw Error("Error - " + inputLabel() + " was cut while it was read: it ends after " + std::to_string(end) +
                    " of the " + std::to_string(fileLength) + " bytes it had when it was opened.",
                    Error::Subject::input);
}

std::string BinaryFile::inputLabel() const {
    return isStdio ? std::string("standard input") : "file " + baseName(fileName);
}

void BinaryFile::throwReadFailed(int error) const {
    throw Error("Error - " + inputLabel() + " cannot be read" + systemReason(error) + ".", Error::Subject::input);
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
    const int c = takeByte();
    out = static_cast<char>(c);
    if (c >= 0) return true;
    checkShortRead();
    return false;
}

bool BinaryFile::notAtEnd() const {
    return !streamEnded();
}

int32_t BinaryFile::tell() const {
    return static_cast<int32_t>(forRead ? position() : std::ftell(file));
}

int64_t BinaryFile::position() const {
    // A stream stays at its end, as a file's position does, however far reads go past it.
    if (inOrder) return std::min(int64_t{byteCount} - pendingBytes, bytesTaken());
    return descriptorAt - (last - next);
}

bool BinaryFile::restartAt(int64_t pos) {
    if (pos < 0 || pos > INT32_MAX || !seek(static_cast<int32_t>(pos))) return false;
    eofHits = 0;
    return true;
}

bool BinaryFile::seek(int32_t pos) {
    if (forRead) {
        // A position among the bytes the buffer holds is reached without the system.
        const int64_t buffered = last - buffer.data();
        if (pos >= descriptorAt - buffered && pos <= descriptorAt) {
            next = last - (descriptorAt - pos);
        } else {
            if (::lseek(descriptor, pos, SEEK_SET) < 0) return false;
            descriptorAt = pos;
            next = last = buffer.data();
        }
        endMet = false;
        return true;
    }
    if (std::fseek(file, pos, SEEK_SET) == 0) return true;
    // Seeking an output first writes its buffer, which may fail like any write.
    if (std::ferror(file)) noteWriteFailure();
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
    const std::string reason = writeFailure != 0 ? systemReason(writeFailure) : "";
    throw Error("Error - cannot write to " + target + reason + ".");
}
