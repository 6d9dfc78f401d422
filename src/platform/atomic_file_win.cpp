#include "platform/atomic_file.h"

#include <windows.h>

#include <algorithm>
#include <random>
#include <string>

#include "platform/wide_string_win.h"

namespace vantrel {
namespace {

bool fail(std::string* error, const char* what)
{
    if (error)
        *error = std::string(what) + ": error " + std::to_string(GetLastError());
    return false;
}

class Handle {
public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_handle; }
    bool close()
    {
        const HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return handle == INVALID_HANDLE_VALUE || CloseHandle(handle) != 0;
    }

private:
    HANDLE m_handle;
};

}  // namespace

bool ReplaceFileContents(const std::string& path, std::string_view bytes, std::string* error)
{
    const std::size_t slash = path.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    thread_local std::mt19937_64 generator{std::random_device{}()};
    const std::wstring target = WidenUtf8(path);
    // Windows refuses to rename over a read-only file (Wine does not): refuse before writing anything.
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return fail(error, "the cache file is read-only");
    }

    std::wstring temporaryPath;
    HANDLE created = INVALID_HANDLE_VALUE;
    for (int attempt = 0; created == INVALID_HANDLE_VALUE && attempt < 16; ++attempt) {
        temporaryPath = WidenUtf8(folder + std::string(kTemporaryPrefix) +
                                  std::to_string(generator() & 0xFFFFFFFFFFFF) + std::string(kTemporarySuffix));
        created =
            CreateFileW(temporaryPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            return fail(error, "cannot create a file beside the cache file");
    }
    if (created == INVALID_HANDLE_VALUE)
        return fail(error, "no free temporary name");
    Handle file(created);

    bool written = true;
    while (written && !bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD done = 0;
        written = WriteFile(file.get(), bytes.data(), chunk, &done, nullptr) != 0 && done != 0;
        bytes.remove_prefix(done);
    }
    const bool flushed = written && FlushFileBuffers(file.get()) != 0;
    const bool closed = file.close();
    // Replacing the target itself, not a link it might be.
    if (!flushed || !closed ||
        !MoveFileExW(temporaryPath.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const bool result = fail(error, "cannot replace the cache file");
        DeleteFileW(temporaryPath.c_str());
        return result;
    }
    return true;
}

}  // namespace vantrel
