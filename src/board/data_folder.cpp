#include "board/data_folder.h"

#include <filesystem>
#include <random>
#include <system_error>

#include "platform/utf8_path.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDataFolders[] = {"brd", "log", "pic/std"};
constexpr const char* kFoldersWithDefaults[] = {"brd", "pic/std"};

// Anything at the path, a dangling link included, counts: it is the user's, and is never replaced.
bool present(const fs::path& path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// A new, empty folder beside data/, so that data/ appears only once whole.
fs::path newStagingFolder(const fs::path& base)
{
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / (".data-new-" + std::to_string(random()));
        std::error_code error;
        if (fs::create_directory(candidate, error))
            return candidate;
        if (error)
            return {};
    }
    return {};
}

bool fill(const fs::path& staging, const fs::path& defaults)
{
    std::error_code error;
    for (const char* folder : kDataFolders) {
        fs::create_directories(staging / folder, error);
        if (error)
            return false;
    }
    for (const char* folder : kFoldersWithDefaults) {
        // Nothing installed: the empty tree still gives the user a place for a board.
        if (!fs::is_directory(defaults / folder, error))
            continue;
        fs::directory_iterator entries(defaults / folder, error);
        for (const fs::directory_iterator end; !error && entries != end; entries.increment(error)) {
            std::error_code typeError;
            if (!entries->is_regular_file(typeError))
                continue;
            const fs::path target = staging / folder / entries->path().filename();
            if (!fs::copy_file(entries->path(), target, error))
                return false;
            // The installed copies may be read-only; the user's own must not be.
            std::error_code modeError;
            fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, modeError);
        }
        if (error)
            return false;
    }
    return true;
}

void makeUserDataFolder(const fs::path& base, const fs::path& defaults)
{
    const fs::path data = base / "data";
    if (present(data))
        return;
    std::error_code error;
    fs::create_directories(base, error);
    if (error)
        return;
    const fs::path staging = newStagingFolder(base);
    if (staging.empty())
        return;
    // Only a whole tree is renamed into place; a rename that finds data/ there (another instance was first)
    // leaves that one as it is.
    if (fill(staging, defaults))
        fs::rename(staging, data, error);
    fs::remove_all(staging, error);
}

}  // namespace

std::string PrepareDataBase(const DataPlaces& places)
{
    std::error_code error;
    if (!places.executableFolder.empty() && fs::is_directory(Utf8Path(places.executableFolder) / "data", error))
        return places.executableFolder;
    if (places.userFolder.empty())
        return places.executableFolder;
    makeUserDataFolder(Utf8Path(places.userFolder), Utf8Path(places.defaultsFolder));
    return places.userFolder;
}

}  // namespace vantrel
