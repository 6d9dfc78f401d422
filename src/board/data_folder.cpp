#include "board/data_folder.h"

#include <filesystem>
#include <iostream>
#include <random>
#include <system_error>

#include "board/board_reader.h"
#include "board/error_numbers.h"
#include "platform/atomic_file.h"
#include "platform/utf8_path.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDataFolders[] = {"brd", "log", "pic/std"};
constexpr const char* kFoldersWithDefaults[] = {"brd", "pic/std"};
constexpr std::string_view kStagingPrefix = ".data-new-";

// Anything at the path, a dangling link included, counts: it is the user's, and is never replaced.
bool present(const fs::path& path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// "folder：reason", for the error box.
std::string problem(const fs::path& folder, const std::error_code& error)
{
    return Utf8String(folder) + "：" + error.message();
}

// A new, empty folder beside data/, so that data/ appears only once whole.
fs::path newStagingFolder(const fs::path& base, std::error_code& error)
{
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / (std::string(kStagingPrefix) + std::to_string(random()));
        if (fs::create_directory(candidate, error))
            return candidate;
        if (error)
            return {};
    }
    error = std::make_error_code(std::errc::file_exists);
    return {};
}

bool fill(const fs::path& staging, const fs::path& defaults, std::error_code& error)
{
    for (const char* folder : kDataFolders) {
        fs::create_directories(staging / folder, error);
        if (error)
            return false;
    }
    for (const char* folder : kFoldersWithDefaults) {
        // Nothing installed: the empty tree still gives the user a place for a board.
        std::error_code missing;
        if (!fs::is_directory(defaults / folder, missing))
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

// Why base's data/ cannot serve; empty when it can.
std::string makeUserDataFolder(const fs::path& base, const fs::path& defaults)
{
    const fs::path data = base / "data";
    std::error_code error;
    if (!present(data)) {
        if (fs::create_directories(base, error); error)
            return problem(base, error);
        const fs::path staging = newStagingFolder(base, error);
        if (staging.empty())
            return problem(base, error);
        // Only a whole tree is renamed into place; a rename that finds data/ there (another instance was
        // first) leaves that one as it is.
        if (fill(staging, defaults, error))
            fs::rename(staging, data, error);
        std::error_code ignored;
        fs::remove_all(staging, ignored);
        if (error && !present(data))
            return problem(data, error);
    }
    if (fs::is_directory(data, error))
        return {};
    return problem(data, error ? error : std::make_error_code(std::errc::not_a_directory));
}

}  // namespace

std::string PrepareDataBase(const DataPlaces& places, ErrorBox& box)
{
    std::error_code error;
    if (!places.executableFolder.empty() && fs::is_directory(Utf8Path(places.executableFolder) / "data", error))
        return places.executableFolder;
    std::string why = "実行ファイルの横に data がなく、利用者のフォルダーもわかりません。";
    if (!places.userFolder.empty()) {
        RemoveStaleTemporaryFolders(places.userFolder, kStagingPrefix);
        why = makeUserDataFolder(Utf8Path(places.userFolder), Utf8Path(places.defaultsFolder));
        if (why.empty())
            return places.userFolder;
    }
    const std::string description = std::string(errors::kNoDataFolder.description) + why;
    std::cerr << "vantrel: " << description << '\n';
    box.show(std::string(errors::kBoxTitle), errors::BoxText(errors::kNoDataFolder.number, description));
    return places.userFolder.empty() ? places.executableFolder : places.userFolder;
}

}  // namespace vantrel
