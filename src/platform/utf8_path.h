#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vantrel {

// Paths are UTF-8 strings throughout; these convert at the file system's edge (on Windows a plain std::string
// would be taken as the ANSI code page).
inline std::filesystem::path Utf8Path(std::string_view utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The path's last component as UTF-8.
inline std::string Utf8FileName(const std::filesystem::path& path)
{
    const std::u8string name = path.filename().u8string();
    return std::string(name.begin(), name.end());
}

}  // namespace vantrel
