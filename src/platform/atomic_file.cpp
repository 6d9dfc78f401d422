#include "platform/atomic_file.h"

#include <filesystem>
#include <system_error>

#include "platform/utf8_path.h"

namespace vantrel {

void RemoveStaleTemporaryFiles(const std::string& folder, std::chrono::seconds minimumAge)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path root = Utf8Path(folder);
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator entry(root, error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = Utf8FileName(entry->path());
        if (!name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix))
            continue;
        std::error_code ignored;
        if (!entry->is_regular_file(ignored) || entry->is_symlink(ignored))
            continue;
        const auto written = entry->last_write_time(ignored);
        if (!ignored && now - written >= minimumAge)
            fs::remove(entry->path(), ignored);
    }
}

}  // namespace vantrel
