#pragma once
// Buffered random-access file I/O over a POSIX file descriptor.
//
// One window of the file is cached; reads are served from it and writes collect in it until it is
// flushed, the position leaves it, or its size changes. Transfers at least as large as the
// buffer bypass it. The buffer may be resized (or set to 0, unbuffered) while the file is open.
// Errors are reported as failed results (errno is left as the system set it), never thrown.
//
// Not thread-safe: one user at a time.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class BufferedFile {
public:
    enum class Access { Read, ReadWrite };

    // Opens an existing file; null on failure.
    static std::unique_ptr<BufferedFile> Open(const std::string& path, Access access,
                                              int32_t bufferBytes = 8192);
    // Creates a new file that must not exist yet (O_EXCL), for reading and writing; null on failure.
    static std::unique_ptr<BufferedFile> CreateNew(const std::string& path, int32_t bufferBytes = 8192);

    ~BufferedFile(); // closes; pending writes are flushed on a best-effort basis
    BufferedFile(const BufferedFile&) = delete;
    BufferedFile& operator=(const BufferedFile&) = delete;

    // Flushes and closes; false when the flush or the close failed. Idempotent.
    bool Close();

    // Bytes transferred; fewer than asked at the end of the file; -1 on an error before any byte.
    int64_t Read(void* data, int64_t bytes);
    int64_t Write(const void* data, int64_t bytes);
    bool Seek(int64_t offset); // absolute; any offset >= 0, also beyond the end
    int64_t Tell() const { return position_; }
    // The file's length including writes not yet flushed; -1 on an error.
    int64_t Size();
    bool Flush();
    // Flushes, then cuts (or extends) the file to `length`.
    bool Truncate(int64_t length);
    bool SetBufferSize(int32_t bytes);
    int32_t BufferSize() const { return static_cast<int32_t>(buffer_.size()); }
    bool Writable() const { return writable_; }
    bool IsOpen() const { return fd_ >= 0; }

private:
    BufferedFile(int fd, bool writable, int32_t bufferBytes);
    void dropWindow();

    int fd_ = -1;
    bool writable_ = false;
    int64_t position_ = 0;
    std::vector<uint8_t> buffer_;
    int64_t windowStart_ = 0;             // file offset of buffer_[0]
    int64_t windowBytes_ = 0;             // valid bytes in the window
    int64_t dirtyFrom_ = 0, dirtyTo_ = 0; // window-relative range that still has to be written
};
