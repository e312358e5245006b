#include "settings/RegistryStore.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>

#include "settings/AtomicFile.h"

namespace {

std::mutex defaultFolderLock;
std::optional<std::filesystem::path> defaultFolderOverride;

std::filesystem::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

// Holds an exclusive flock for its lifetime; closing the descriptor releases it, as does the
// death of the process.
class StoreLock {
public:
    explicit StoreLock(const std::filesystem::path& file) {
        fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "open " + file.string());
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd_);
            throw std::system_error(error, std::generic_category(), "lock " + file.string());
        }
    }
    ~StoreLock() { ::close(fd_); }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

private:
    int fd_ = -1;
};

void removeStrayTemporaries(const std::filesystem::path& file) {
    const std::string prefix = AtomicFile::TemporaryPrefix(file);
    std::error_code ec;
    for (std::filesystem::directory_iterator it(file.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().filename().string().starts_with(prefix)) {
            std::error_code ignored;
            std::filesystem::remove(it->path(), ignored);
        }
    }
}

} // namespace

RegistryStore::RegistryStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

RegistryStore RegistryStore::Default() {
    return RegistryStore(DefaultFolder());
}

std::filesystem::path RegistryStore::DefaultFolder() {
    {
        std::lock_guard guard(defaultFolderLock);
        if (defaultFolderOverride) return *defaultFolderOverride;
    }
    if (const char* dir = std::getenv("TONALIS_CONFIG_DIR"); dir && *dir) return dir;
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        return std::filesystem::path(xdg) / "tonalis";
    return homeFolder() / ".config" / "tonalis";
}

void RegistryStore::SetDefaultFolder(std::optional<std::filesystem::path> folder) {
    std::lock_guard guard(defaultFolderLock);
    defaultFolderOverride = std::move(folder);
}

std::filesystem::path RegistryStore::FileOf(RegistryRoot root) const {
    return folder_ / RegistryRootFileName(root);
}

RegistryDocument RegistryStore::Read(RegistryRoot root) const {
    const auto text = AtomicFile::Read(FileOf(root));
    return text ? RegistryDocument::Parse(*text) : RegistryDocument{};
}

void RegistryStore::Update(RegistryRoot root, const std::function<void(RegistryDocument&)>& change) const {
    std::filesystem::create_directories(folder_);
    const auto file = FileOf(root);
    StoreLock lock(file.string() + ".lock");
    removeStrayTemporaries(file);
    const auto text = AtomicFile::Read(file);
    const RegistryDocument before = text ? RegistryDocument::Parse(*text) : RegistryDocument{};
    RegistryDocument after = before;
    change(after);
    if (after == before) return;
    AtomicFile::Replace(file, after.Format());
}
