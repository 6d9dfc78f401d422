#include "platform/atomic_file.h"

#include <filesystem>
#include <functional>
#include <system_error>

#include "platform/utf8_path.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

// Removes the entries of folder that isTemporary picks, once older than minimumAge; links are left alone.
void removeStale(const std::string& folder, std::chrono::seconds minimumAge,
                 const std::function<bool(const fs::directory_entry&, const std::string& name)>& isTemporary)
{
    std::error_code error;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator entry(Utf8Path(folder), error), end; !error && entry != end; entry.increment(error)) {
        std::error_code ignored;
        if (entry->is_symlink(ignored) || !isTemporary(*entry, Utf8FileName(entry->path())))
            continue;
        const auto written = entry->last_write_time(ignored);
        if (!ignored && now - written >= minimumAge)
            fs::remove_all(entry->path(), ignored);
    }
}

}  // namespace

void RemoveStaleTemporaryFiles(const std::string& folder, std::chrono::seconds minimumAge)
{
    removeStale(folder, minimumAge, [](const fs::directory_entry& entry, const std::string& name) {
        std::error_code ignored;
        return name.starts_with(kTemporaryPrefix) && name.ends_with(kTemporarySuffix) && entry.is_regular_file(ignored);
    });
}

void RemoveStaleTemporaryFolders(const std::string& folder, std::string_view prefix, std::chrono::seconds minimumAge)
{
    removeStale(folder, minimumAge, [prefix](const fs::directory_entry& entry, const std::string& name) {
        std::error_code ignored;
        return name.starts_with(prefix) && entry.is_directory(ignored);
    });
}

}  // namespace vantrel
