#include "files/riff/BufferedFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int64_t preadAll(int fd, uint8_t* data, int64_t bytes, int64_t offset) {
    int64_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::pread(fd, data + done, static_cast<size_t>(bytes - done), offset + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return done > 0 ? done : -1;
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

int64_t pwriteAll(int fd, const uint8_t* data, int64_t bytes, int64_t offset) {
    int64_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::pwrite(fd, data + done, static_cast<size_t>(bytes - done), offset + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return done > 0 ? done : -1;
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

} // namespace

BufferedFile::BufferedFile(int fd, bool writable, int32_t bufferBytes)
    : fd_(fd), writable_(writable), buffer_(static_cast<size_t>(std::max<int32_t>(0, bufferBytes))) {}

std::unique_ptr<BufferedFile> BufferedFile::Open(const std::string& path, Access access,
                                                 int32_t bufferBytes) {
    const int flags = (access == Access::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<BufferedFile>(new BufferedFile(fd, access == Access::ReadWrite, bufferBytes));
}

std::unique_ptr<BufferedFile> BufferedFile::CreateNew(const std::string& path, int32_t bufferBytes) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    return std::unique_ptr<BufferedFile>(new BufferedFile(fd, true, bufferBytes));
}

BufferedFile::~BufferedFile() {
    Close();
}

bool BufferedFile::Close() {
    if (fd_ < 0) return true;
    const bool flushed = Flush();
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return flushed && closed;
}

void BufferedFile::dropWindow() {
    windowStart_ = windowBytes_ = dirtyFrom_ = dirtyTo_ = 0;
}

bool BufferedFile::Flush() {
    if (fd_ < 0) return false;
    if (dirtyTo_ > dirtyFrom_) {
        const int64_t n = dirtyTo_ - dirtyFrom_;
        if (pwriteAll(fd_, buffer_.data() + dirtyFrom_, n, windowStart_ + dirtyFrom_) != n) return false;
        dirtyFrom_ = dirtyTo_ = 0;
    }
    return true;
}

bool BufferedFile::Seek(int64_t offset) {
    if (fd_ < 0 || offset < 0) return false;
    position_ = offset;
    return true;
}

int64_t BufferedFile::Size() {
    if (fd_ < 0) return -1;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return -1;
    int64_t size = st.st_size;
    if (dirtyTo_ > dirtyFrom_) size = std::max(size, windowStart_ + dirtyTo_);
    return size;
}

bool BufferedFile::Truncate(int64_t length) {
    if (fd_ < 0 || !writable_ || length < 0 || !Flush()) return false;
    dropWindow();
    if (::ftruncate(fd_, length) != 0) return false;
    return true;
}

bool BufferedFile::SetBufferSize(int32_t bytes) {
    if (fd_ < 0 || bytes < 0 || !Flush()) return false;
    dropWindow();
    buffer_.assign(static_cast<size_t>(bytes), 0);
    buffer_.shrink_to_fit();
    return true;
}

int64_t BufferedFile::Read(void* data, int64_t bytes) {
    if (fd_ < 0 || bytes < 0) return -1;
    auto* out = static_cast<uint8_t*>(data);
    int64_t done = 0;
    const int64_t capacity = static_cast<int64_t>(buffer_.size());
    while (done < bytes) {
        const int64_t inWindow = position_ - windowStart_;
        if (inWindow >= 0 && inWindow < windowBytes_) {
            const int64_t n = std::min(bytes - done, windowBytes_ - inWindow);
            std::memcpy(out + done, buffer_.data() + inWindow, static_cast<size_t>(n));
            done += n;
            position_ += n;
            continue;
        }
        if (!Flush()) return done > 0 ? done : -1;
        dropWindow();
        if (bytes - done >= capacity) {
            const int64_t n = preadAll(fd_, out + done, bytes - done, position_);
            if (n < 0) return done > 0 ? done : -1;
            done += n;
            position_ += n;
            break;
        }
        const int64_t n = preadAll(fd_, buffer_.data(), capacity, position_);
        if (n < 0) return done > 0 ? done : -1;
        if (n == 0) break;
        windowStart_ = position_;
        windowBytes_ = n;
    }
    return done;
}

int64_t BufferedFile::Write(const void* data, int64_t bytes) {
    if (fd_ < 0 || !writable_ || bytes < 0) return -1;
    const auto* in = static_cast<const uint8_t*>(data);
    int64_t done = 0;
    const int64_t capacity = static_cast<int64_t>(buffer_.size());
    while (done < bytes) {
        const int64_t inWindow = position_ - windowStart_;
        // Writes join the window while they continue its valid bytes and there is room.
        if (capacity > 0 && inWindow >= 0 && inWindow <= windowBytes_ && inWindow < capacity) {
            const int64_t n = std::min(bytes - done, capacity - inWindow);
            std::memcpy(buffer_.data() + inWindow, in + done, static_cast<size_t>(n));
            if (dirtyTo_ == dirtyFrom_) {
                dirtyFrom_ = inWindow;
                dirtyTo_ = inWindow + n;
            } else {
                dirtyFrom_ = std::min(dirtyFrom_, inWindow);
                dirtyTo_ = std::max(dirtyTo_, inWindow + n);
            }
            windowBytes_ = std::max(windowBytes_, inWindow + n);
            done += n;
            position_ += n;
            continue;
        }
        if (!Flush()) return done > 0 ? done : -1;
        dropWindow();
        if (bytes - done >= capacity) {
            const int64_t wanted = bytes - done;
            const int64_t n = pwriteAll(fd_, in + done, wanted, position_);
            if (n < 0) return done > 0 ? done : -1;
            done += n;
            position_ += n;
            if (n < wanted) break;
            continue;
        }
        windowStart_ = position_; // an empty window that the next round fills
    }
    return done;
}
