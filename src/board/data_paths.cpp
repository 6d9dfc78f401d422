#include "board/data_paths.h"

namespace vantrel {
namespace {

std::string withTrailing(std::string_view path, char separator)
{
    std::string result(path);
    if (result.empty() || result.back() != separator)
        result.push_back(separator);
    return result;
}

// Relative folders, each ending in the separator so a file name can follow directly.
std::string relativeFolder(DataFolder folder)
{
    const char* parts[3] = {"data", nullptr, nullptr};
    switch (folder) {
    case DataFolder::Boards:
        parts[1] = "brd";
        break;
    case DataFolder::Cache:
        parts[1] = "log";
        break;
    case DataFolder::Pictures:
        parts[1] = "pic";
        parts[2] = "std";
        break;
    }
    std::string result;
    for (const char* part : parts) {
        if (part) {
            result += part;
            result.push_back(kPathSeparator);
        }
    }
    return result;
}

}  // namespace

std::string WithTrailingBackslash(std::string_view path)
{
    return withTrailing(path, '\\');
}

std::string WithTrailingSeparator(std::string_view path)
{
    return withTrailing(path, kPathSeparator);
}

std::string DataFolderPath(std::string_view appDir, DataFolder folder)
{
    return WithTrailingSeparator(appDir) + relativeFolder(folder);
}

std::string DataFilePath(std::string_view appDir, DataFolder folder, std::string_view fileName)
{
    return DataFolderPath(appDir, folder) + std::string(fileName);
}

}  // namespace vantrel
