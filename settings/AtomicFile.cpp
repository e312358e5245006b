#include "settings/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

[[noreturn]] void raise(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

std::atomic<unsigned> temporaryCounter{0};

} // namespace

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target)) {
    std::error_code ec;
    if (std::filesystem::is_symlink(target_, ec)) {
        auto resolved = std::filesystem::weakly_canonical(target_, ec);
        if (!ec) target_ = std::move(resolved);
    }
}

AtomicFile::~AtomicFile() {
    if (pending_) ::unlink(temporary_.c_str());
}

std::string AtomicFile::TemporaryPrefix(const std::filesystem::path& target) {
    return "." + target.filename().string() + ".tmp-";
}

void AtomicFile::Write(std::string_view contents) {
    if (pending_) {
        ::unlink(temporary_.c_str());
        pending_ = false;
    }
    const auto folder = target_.parent_path().empty() ? std::filesystem::path(".") : target_.parent_path();
    int fd = -1;
    // O_EXCL with a fresh name each try: never open a file someone else created.
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary_ = folder / (TemporaryPrefix(target_) + std::to_string(::getpid()) + "-" +
                               std::to_string(temporaryCounter.fetch_add(1)));
        fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) raise("create " + temporary_.string());
    }
    if (fd < 0) raise("create " + temporary_.string());
    pending_ = true;

    struct stat old {};
    if (::stat(target_.c_str(), &old) == 0) (void)::fchmod(fd, old.st_mode & 07777);

    const char* data = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            errno = error;
            raise("write " + temporary_.string());
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        raise("flush " + temporary_.string());
    }
    if (::close(fd) != 0) raise("close " + temporary_.string());
}

void AtomicFile::Commit() {
    if (!pending_) throw std::logic_error("AtomicFile::Commit without Write");
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) raise("rename " + temporary_.string());
    pending_ = false;
}

void AtomicFile::Replace(const std::filesystem::path& target, std::string_view contents) {
    AtomicFile file(target);
    file.Write(contents);
    file.Commit();
}

std::optional<std::string> AtomicFile::Read(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        raise("open " + file.string());
    }
    std::string text;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            errno = error;
            raise("read " + file.string());
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}
