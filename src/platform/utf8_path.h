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

inline std::string Utf8String(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The path's last component as UTF-8.
inline std::string Utf8FileName(const std::filesystem::path& path)
{
    return Utf8String(path.filename());
}

}  // namespace vantrel
