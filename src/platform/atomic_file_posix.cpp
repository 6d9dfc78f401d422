#include "platform/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    // Closes now so that a late write error (reported by close on some file systems) is not lost.
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

// Removes the temporary file unless the rename took it.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : m_path(std::move(path)) {}
    ~TemporaryFile()
    {
        if (!m_kept)
            ::unlink(m_path.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::string& path() const { return m_path; }
    void keep() { m_kept = true; }

private:
    std::string m_path;
    bool m_kept = false;
};

bool fail(std::string* error, const char* what)
{
    if (error)
        *error = std::string(what) + ": " + std::strerror(errno);
    return false;
}

std::string randomTag()
{
    static constexpr char kDigits[] = "0123456789abcdef";
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uint64_t value = generator();
    std::string tag;
    for (int i = 0; i < 12; ++i, value >>= 4)
        tag.push_back(kDigits[value & 0xF]);
    return tag;
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, std::string_view bytes, std::string* error)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    // A file its owner marked read-only is refused as Windows refuses it; the owner's bit counts for root too,
    // whom access() lets write anything.
    struct stat existing {};
    const bool exists = ::lstat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    if (exists && ((existing.st_mode & S_IWUSR) == 0 || ::access(path.c_str(), W_OK) != 0)) {
        errno = EACCES;
        return fail(error, "the cache file is read-only");
    }

    int fd = -1;
    std::string temporaryPath;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temporaryPath = folder + std::string(kTemporaryPrefix) + randomTag() + std::string(kTemporarySuffix);
        fd = ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return fail(error, "cannot create a file beside the cache file");
    }
    if (fd < 0)
        return fail(error, "no free temporary name");
    FileDescriptor file(fd);
    TemporaryFile temporary(temporaryPath);

    if (!writeAll(file.get(), bytes))
        return fail(error, "cannot write the cache file");
    // The replacement keeps the old file's permissions, so a private cache file stays private. A file system
    // without modes refuses this, which is no reason to fail.
    if (exists)
        ::fchmod(file.get(), existing.st_mode & 0777);
    if (::fsync(file.get()) != 0)
        return fail(error, "cannot flush the cache file");
    if (!file.close())
        return fail(error, "cannot close the cache file");
    if (::rename(temporary.path().c_str(), path.c_str()) != 0)
        return fail(error, "cannot replace the cache file");
    temporary.keep();
    return true;
}

}  // namespace vantrel
