#include "platform/atomic_file.h"

#include <filesystem>
#include <system_error>

namespace vantrel {

void RemoveStaleTemporaryFiles(const std::string& folder, std::chrono::seconds minimumAge)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path root(std::u8string(folder.begin(), folder.end()));
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator entry(root, error), end; !error && entry != end; entry.increment(error)) {
        const std::u8string name = entry->path().filename().u8string();
        const std::string_view text(reinterpret_cast<const char*>(name.data()), name.size());
        if (!text.starts_with(kTemporaryPrefix) || !text.ends_with(kTemporarySuffix))
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
